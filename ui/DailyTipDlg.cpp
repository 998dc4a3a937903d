#include "ui/DailyTipDlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadialGradient>
#include <QSettings>
#include <QVBoxLayout>

#include <sys/stat.h>
#include <ctime>

#include "config/SettingsStore.h"
#include "frontend/FrontEnd.h"
#include "ui/DataFiles.h"

namespace {

const char kDidYouKnow[] = "Did you know...";
const char kNoTipsFile[] = "Tips file does not exist in the prescribed directory";
const char kTroubleReading[] = "Trouble reading the tips file";
constexpr qint64 kMaxLineBytes = 999;

QSettings Settings() {
    return OpenSettingsStore();
}

// The file's status-change time in the C library's ctime form, trailing white space removed.
QString FileStamp(const QFile& file) {
    struct stat st {};
    if (fstat(file.handle(), &st) != 0)
        return {};
    char text[32] = {};
    if (!ctime_r(&st.st_ctime, text))
        return {};
    return QString::fromLatin1(text).trimmed();
}

// How many bytes at the end of `line` belong to a UTF-8 sequence that the length cap cut short.
int CutSequenceBytes(const QByteArray& line) {
    for (int back = 1; back <= 3 && back <= line.size(); ++back) {
        const auto c = static_cast<unsigned char>(line[line.size() - back]);
        if ((c & 0xC0) == 0x80)
            continue;  // a continuation byte: look further back for the lead byte
        const int need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return need > back ? back : 0;
    }
    return 0;
}

}  // namespace

CDailyTipDlg::CDailyTipDlg(QWidget* parent, const QString& tipsPath) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Tip of the Day"));

    // The white panel: bulb and heading, the tip below.
    auto* panel = new QFrame;
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setFrameShadow(QFrame::Sunken);
    panel->setAutoFillBackground(true);
    QPalette white = panel->palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::WindowText, Qt::black);
    panel->setPalette(white);
    auto* bulb = new QLabel;
    bulb->setPixmap(BulbPicture());
    auto* heading = new QLabel(QString::fromLatin1(kDidYouKnow));
    QFont big = heading->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.25);
    heading->setFont(big);
    m_tipText = new QLabel(QStringLiteral("Some String"));
    m_tipText->setTextFormat(Qt::PlainText);
    m_tipText->setWordWrap(true);
    m_tipText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_tipText->setTextInteractionFlags(Qt::TextSelectableByMouse);  // commands in tips can be copied
    m_tipText->setMinimumSize(300, 110);
    m_tipText->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    auto* top = new QHBoxLayout;
    top->addWidget(bulb);
    top->addSpacing(8);
    top->addWidget(heading, 1, Qt::AlignVCenter);
    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(12, 10, 16, 12);
    panelLayout->addLayout(top);
    auto* indented = new QHBoxLayout;
    indented->addSpacing(16);
    indented->addWidget(m_tipText);
    panelLayout->addLayout(indented, 1);

    m_startup = new QCheckBox(QStringLiteral("&Show Tips on StartUp"));
    m_next = new QPushButton(QStringLiteral("&Next Tip"));
    auto* close = new QPushButton(QStringLiteral("&Close"));
    close->setDefault(true);
    m_next->setAutoDefault(false);
    connect(m_next, &QPushButton::clicked, this, &CDailyTipDlg::NextTip);
    connect(close, &QPushButton::clicked, this, &CDailyTipDlg::accept);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_startup);
    buttons->addStretch();
    buttons->addWidget(m_next);
    buttons->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(panel, 1);
    layout->addLayout(buttons);

    // Without a stored value the box is clear: tips stay off until the user asks for them.
    QSettings settings = Settings();
    m_bShowAtStartup = settings.value(QStringLiteral("Tip/StartUp"), 1).toInt() == 0;
    qint64 position = settings.value(QStringLiteral("Tip/FilePos"), 0).toLongLong();

    m_pTipsFile.setFileName(tipsPath.isEmpty() ? FindProgramDataFile(QStringLiteral("tips.txt")) : tipsPath);
    if (m_pTipsFile.open(QIODevice::ReadOnly)) {
        const QString stamp = FileStamp(m_pTipsFile);
        if (stamp != settings.value(QStringLiteral("Tip/TimeStamp")).toString()) {
            settings.setValue(QStringLiteral("Tip/TimeStamp"), stamp);
            position = 0;
        }
        if (position < 0 || !m_pTipsFile.seek(position))
            ShowMessage(kTroubleReading);
        else
            ReadNextTip();
    } else {
        m_strTip = QString::fromLatin1(kNoTipsFile);
    }
    UpdateControls();
    m_next->setEnabled(m_pTipsFile.isOpen() && !m_bNoTips);
    close->setFocus();
}

CDailyTipDlg::~CDailyTipDlg() {
    if (m_pTipsFile.isOpen()) {
        Settings().setValue(QStringLiteral("Tip/FilePos"), m_pTipsFile.pos());
        m_pTipsFile.close();
    }
}

bool CDailyTipDlg::WantedAtStartup() {
    return Settings().value(QStringLiteral("Tip/StartUp"), 1).toInt() == 0;
}

bool CDailyTipDlg::ShowAtStartup() const {
    return m_startup->isChecked();
}

bool CDailyTipDlg::ReadNextTip() {
    // Each tip is one line; indented, empty and comment lines are skipped. A file without any tip line would
    // rewind forever: after one full pass without a tip the reading stops with a message instead.
    int rewinds = 0;
    for (;;) {
        QByteArray line = m_pTipsFile.readLine(kMaxLineBytes + 1);
        if (line.isEmpty()) {
            if (++rewinds > 1 || !m_pTipsFile.seek(0)) {
                m_strTip = QString::fromLatin1(kTroubleReading);
                m_bNoTips = rewinds > 1;
                if (rewinds <= 1)
                    ShowMessage(kTroubleReading);
                return false;
            }
            continue;
        }
        // A line cut by the length cap continues as the next one; never split a character between them.
        if (!line.endsWith('\n')) {
            if (const int cut = CutSequenceBytes(line); cut > 0 && cut < line.size()) {
                line.chop(cut);
                m_pTipsFile.seek(m_pTipsFile.pos() - cut);
            }
        }
        const char first = line[0];
        if (first == ' ' || first == '\t' || first == '\n' || first == '\r' || first == ';')
            continue;
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        m_strTip = QString::fromUtf8(line);
        return true;
    }
}

void CDailyTipDlg::UpdateControls() {
    m_tipText->setText(m_strTip);
    m_startup->setChecked(m_bShowAtStartup);
}

void CDailyTipDlg::NextTip() {
    if (!m_pTipsFile.isOpen())
        return;
    m_bShowAtStartup = m_startup->isChecked();
    if (!ReadNextTip())
        m_next->setEnabled(false);
    UpdateControls();
}

void CDailyTipDlg::accept() {
    m_bShowAtStartup = m_startup->isChecked();
    QDialog::accept();
    Settings().setValue(QStringLiteral("Tip/StartUp"), m_bShowAtStartup ? 0 : 1);
}

QPixmap CDailyTipDlg::BulbPicture() {
    QPixmap pm(40, 53);
    pm.fill(Qt::white);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    // Rays.
    p.setPen(QPen(QColor(240, 180, 0), 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(20, 1, 20, 5);
    p.drawLine(4, 8, 7, 11);
    p.drawLine(36, 8, 33, 11);
    p.drawLine(1, 21, 5, 21);
    p.drawLine(39, 21, 35, 21);
    // The glass: a round top narrowing to the neck.
    QPainterPath glass;
    glass.moveTo(14, 36);
    glass.cubicTo(14, 30, 7, 28, 7, 20);
    glass.arcTo(QRectF(7, 7, 26, 26), 180, -180);
    glass.cubicTo(33, 28, 26, 30, 26, 36);
    glass.closeSubpath();
    QRadialGradient light(QPointF(17, 16), 18);
    light.setColorAt(0, QColor(255, 255, 220));
    light.setColorAt(0.6, QColor(255, 236, 120));
    light.setColorAt(1, QColor(240, 190, 40));
    p.setBrush(light);
    p.setPen(QPen(QColor(150, 110, 0), 1.2));
    p.drawPath(glass);
    // Filament.
    p.setPen(QPen(QColor(200, 90, 0), 1));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({QPointF(17, 35), QPointF(17, 24), QPointF(19, 21), QPointF(21, 24),
                              QPointF(23, 21), QPointF(23, 35)}));
    // The screw base.
    p.setPen(QPen(QColor(90, 90, 90), 1));
    for (int i = 0; i < 4; ++i) {
        p.setBrush(i % 2 ? QColor(150, 150, 150) : QColor(200, 200, 200));
        p.drawRoundedRect(QRectF(13.5, 36.5 + i * 3.5, 13, 3.5), 1.5, 1.5);
    }
    p.setBrush(QColor(60, 60, 60));
    p.drawRoundedRect(QRectF(17, 50, 6, 2.5), 1, 1);
    return pm;
}
