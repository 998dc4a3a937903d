// The tip of the day: one tip at a time from "tips.txt", continuing where the last run stopped and starting
// over when the file changed; the user decides whether it shows at start-up.
#pragma once

#include <QDialog>
#include <QFile>
#include <QString>

class QCheckBox;
class QLabel;
class QPushButton;

class CDailyTipDlg : public QDialog {
    Q_OBJECT

public:
    // Reads the settings, opens the tips file (by default "tips.txt" found by FindProgramDataFile) and
    // reads the tip to show.
    explicit CDailyTipDlg(QWidget* parent = nullptr, const QString& tipsPath = {});
    // Saves where the next tip starts ("Tip"/"FilePos") when the file is open.
    ~CDailyTipDlg() override;

    // Whether the user asked for tips at start-up ("Tip"/"StartUp" is 0), without opening the file: the
    // start-up path asks this first, so that a tip is only used up when it is shown.
    static bool WantedAtStartup();

    bool ShowAtStartup() const;
    QString Tip() const { return m_strTip; }
    bool HasTipsFile() const { return m_pTipsFile.isOpen(); }

    // "&Next Tip".
    void NextTip();
    // "&Close": the only way the check box reaches the settings.
    void accept() override;

    // The bulb picture beside "Did you know...", 40 x 53 pixels.
    static QPixmap BulbPicture();

private:
    bool ReadNextTip();
    void UpdateControls();

    bool m_bShowAtStartup = false;
    QString m_strTip;
    bool m_bNoTips = false;  // the file holds no tip line at all
    QFile m_pTipsFile;
    QLabel* m_tipText = nullptr;
    QCheckBox* m_startup = nullptr;
    QPushButton* m_next = nullptr;
};
