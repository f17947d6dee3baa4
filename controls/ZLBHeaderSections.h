// The ordered columns of a list box header. Every change is reported to
// OnUpdate (while there are sections) and repaints the header and the list.
#pragma once

#include "ZLBHeaderSection.h"

#include <functional>
#include <memory>
#include <vector>

class TZLBHeaderControl;

class TZLBHeaderSections {
public:
    // Item is the changed section, or null when all of them changed.
    using TZLBUpdateEvent = std::function<void(TZLBHeaderSections* HeaderSections,
                                               TZLBHeaderSection* Item)>;

    explicit TZLBHeaderSections(TZLBHeaderControl* header);
    ~TZLBHeaderSections();
    TZLBHeaderSections(const TZLBHeaderSections&) = delete;
    TZLBHeaderSections& operator=(const TZLBHeaderSections&) = delete;

    TZLBHeaderControl* Header() const { return m_header; }
    int Count() const { return static_cast<int>(m_items.size()); }
    // The section at the index; null for an index out of range.
    TZLBHeaderSection* Items(int index) const;
    int IndexOf(const TZLBHeaderSection* section) const;

    TZLBHeaderSection* Add();
    void Delete(int index);
    void Clear();
    // Replaces the sections by copies of the source's.
    void Assign(const TZLBHeaderSections& source);

    TZLBUpdateEvent OnUpdate;

    // Called by the sections after each change.
    void Changed(TZLBHeaderSection* item);

private:
    TZLBHeaderControl* m_header;
    std::vector<std::unique_ptr<TZLBHeaderSection>> m_items;
    int m_updating = 0;   // > 0 while Assign rebuilds the sections
};
