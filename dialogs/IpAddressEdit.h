// An IPv4 address field: four number fields of 0..255 between dots, one stop in the tab order.
#pragma once

#include <QWidget>

#include <array>
#include <cstdint>

class QLineEdit;

class CIpAddressEdit : public QWidget {
    Q_OBJECT

public:
    explicit CIpAddressEdit(QWidget* parent = nullptr);

    // Octet 0 goes to the first field. An empty field reads as 0.
    void SetAddress(const uint8_t ip[4]);
    void GetAddress(uint8_t ip[4]) const;
    // "a.b.c.d" as shown (empty fields as 0).
    QString Text() const;

    // Fills all four fields from a dotted address ("10.0.0.1", surrounding blanks allowed); false, and
    // nothing changed, for anything else.
    bool SetText(const QString& dotted);

    QLineEdit* Field(int i) const { return m_fields[static_cast<size_t>(i)]; }

signals:
    void addressEdited();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void OnEdited(int i);
    void MoveTo(int i, bool atEnd);
    int IndexOf(QObject* field) const;

    std::array<QLineEdit*, 4> m_fields{};
    std::array<QString, 4> m_shown;  // each field's last accepted text, to undo a rejected paste
};
