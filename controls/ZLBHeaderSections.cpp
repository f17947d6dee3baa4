#include "ZLBHeaderSections.h"

#include "ZLBHeaderControl.h"

#include <algorithm>

TZLBHeaderSections::TZLBHeaderSections(TZLBHeaderControl* header) : m_header(header)
{
}

TZLBHeaderSections::~TZLBHeaderSections() = default;

TZLBHeaderSection* TZLBHeaderSections::Items(int index) const
{
    if (index < 0 || index >= Count())
        return nullptr;
    return m_items[static_cast<size_t>(index)].get();
}

int TZLBHeaderSections::IndexOf(const TZLBHeaderSection* section) const
{
    const auto found = std::find_if(m_items.begin(), m_items.end(),
                                    [section](const auto& item) { return item.get() == section; });
    return found == m_items.end() ? -1 : static_cast<int>(found - m_items.begin());
}

TZLBHeaderSection* TZLBHeaderSections::Add()
{
    m_items.push_back(std::make_unique<TZLBHeaderSection>(this));
    Changed(nullptr);
    return m_items.back().get();
}

void TZLBHeaderSections::Delete(int index)
{
    if (index < 0 || index >= Count())
        return;
    m_items.erase(m_items.begin() + index);
    Changed(nullptr);
}

void TZLBHeaderSections::Clear()
{
    m_items.clear();
    Changed(nullptr);
}

void TZLBHeaderSections::Assign(const TZLBHeaderSections& source)
{
    if (&source == this)
        return;
    ++m_updating;
    m_items.clear();
    for (const auto& item : source.m_items)
        Add()->Assign(*item);
    --m_updating;
    Changed(nullptr);
}

void TZLBHeaderSections::Changed(TZLBHeaderSection* item)
{
    if (m_updating > 0)
        return;
    if (Count() > 0 && OnUpdate)
        OnUpdate(this, item);
    if (m_header)
        m_header->SectionsChanged();
}
