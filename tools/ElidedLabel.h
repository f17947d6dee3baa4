#pragma once
// A multi-line label that wraps its text at blanks and, when the text needs
// more lines than fit, ends the last visible line with an ellipsis.
#include <QFrame>
#include <QString>
#include <QStringList>

class TElidedLabel : public QFrame {
    Q_OBJECT
public:
    explicit TElidedLabel(QWidget* parent = nullptr);

    QString text() const { return FText; }
    void setText(const QString& text);

    // The lines as they are drawn at the current size; the last one carries
    // the ellipsis when the text is cut.
    QStringList VisibleLines() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString FText;
};
