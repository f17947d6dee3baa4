#pragma once
// "TCP Connection": host name or IP address and port of the gripper, asked
// each time the TCP device is opened.
#include "ModalDialog.h"

class QLabel;
class QLineEdit;
class QPushButton;
class TIntegerEdit;

class THostNameDlg : public TModalDialog {
    Q_OBJECT
public:
    explicit THostNameDlg(QObject* owner);

    QString HostName() const;
    void SetHostName(const QString& host);
    // The port field's value; throws std::invalid_argument("Port value is
    // invalid") while the field is not valid (1 to 65535).
    int Port() const;
    // Sets the port field's text to `port` in decimal.
    void SetPort(int port);

protected:
    // Every showing starts in the host field with its text selected, so a
    // host typed at once replaces the stored one.
    void showEvent(QShowEvent* event) override;

private:
    void SelectHostField();
    void edPortChange();

    QLabel* FPrompt;
    QLineEdit* edHostname;
    QLabel* FPortLabel;
    TIntegerEdit* edPort;
    QPushButton* btnOk;
    QPushButton* btnCancel;
};
