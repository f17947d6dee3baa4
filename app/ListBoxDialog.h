#pragma once
// A small resizable dialog that shows a two-column table ("Description",
// "Value") in a multi-column list box, with a "close" button below it. The
// caller adds the rows, sets the caption and calls ShowList.
#include <QDialog>
#include <QString>

class QPushButton;
class QWidget;
class TZLBListBox;

class TListBoxDlg : public QDialog {
    Q_OBJECT
public:
    explicit TListBoxDlg(QWidget* owner);

    // Appends the row description;value.
    void AddRow(const QString& description, const QString& value);
    // Replaces the column captions "Description" and "Value".
    void SetColumnCaptions(const QString& first, const QString& second);
    // Sizes the "Description" column to its contents and shows the dialog
    // modally (through the program's dialog runner); returns when it is closed.
    void ShowList();

    QWidget* pnInner;
    TZLBListBox* ListBox;
    QWidget* Panel2;
    QPushButton* btnClose;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Panel2Resize();
    void FitValueColumn();
};
