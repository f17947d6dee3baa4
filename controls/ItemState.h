// Check box state of one list item, kept with the item once it is first set.
#pragma once

#include <QMetaType>

struct TItemState {
    bool Checked = false;
    int CheckState = 0;   // 0 unchecked, 1 checked, 2 grayed
};

Q_DECLARE_METATYPE(TItemState)
