// One column of the list box header: its width, colour, caption, whether a
// click sorts by it, and whether it shows text or a colour box.
#pragma once

#include <QColor>
#include <QString>

class TZLBHeaderSections;

enum TSectionKind { skNormal, skColorBox };

class TZLBHeaderSection {
public:
    explicit TZLBHeaderSection(TZLBHeaderSections* collection);

    int Width() const { return m_width; }
    void SetWidth(int width);
    QColor BackColor() const { return m_backColor; }
    void SetBackColor(const QColor& color);
    QString Text() const { return m_text; }
    void SetText(const QString& text);
    bool SortEnabled() const { return m_sortEnabled; }
    void SetSortEnabled(bool enabled);
    TSectionKind Kind() const { return m_kind; }
    void SetKind(TSectionKind kind);

    int Index() const;
    // The text, or the item's default name when the text is empty.
    QString DisplayName() const;
    // Copies the published properties (one change report).
    void Assign(const TZLBHeaderSection& source);

private:
    void Changed(bool allItems);

    TZLBHeaderSections* m_collection;
    int m_width = 50;
    QColor m_backColor;
    QString m_text;
    bool m_sortEnabled = true;
    TSectionKind m_kind = skNormal;
};
