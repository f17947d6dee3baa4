#include "ZLBHeaderSection.h"

#include "ZLBHeaderSections.h"

#include <QGuiApplication>
#include <QPalette>

TZLBHeaderSection::TZLBHeaderSection(TZLBHeaderSections* collection)
    : m_collection(collection), m_backColor(QGuiApplication::palette().color(QPalette::Button))
{
}

void TZLBHeaderSection::SetWidth(int width)
{
    if (width == m_width)
        return;
    m_width = width;
    // Every section right of this one moves, so all of them changed.
    Changed(Index() != m_collection->Count() - 1);
}

void TZLBHeaderSection::SetBackColor(const QColor& color)
{
    if (color == m_backColor)
        return;
    m_backColor = color;
    Changed(false);
}

void TZLBHeaderSection::SetText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    Changed(false);
}

void TZLBHeaderSection::SetSortEnabled(bool enabled)
{
    if (enabled == m_sortEnabled)
        return;
    m_sortEnabled = enabled;
    Changed(false);
}

void TZLBHeaderSection::SetKind(TSectionKind kind)
{
    if (kind == m_kind)
        return;
    m_kind = kind;
    Changed(false);
}

int TZLBHeaderSection::Index() const
{
    return m_collection->IndexOf(this);
}

QString TZLBHeaderSection::DisplayName() const
{
    return m_text.isEmpty() ? QStringLiteral("TZLBHeaderSection") : m_text;
}

void TZLBHeaderSection::Assign(const TZLBHeaderSection& source)
{
    m_width = source.m_width;
    m_backColor = source.m_backColor;
    m_text = source.m_text;
    m_sortEnabled = source.m_sortEnabled;
    m_kind = source.m_kind;
    Changed(true);
}

void TZLBHeaderSection::Changed(bool allItems)
{
    m_collection->Changed(allItems ? nullptr : this);
}
