// Placement of a control inside its parent, as chosen by the form designer.
// Qt has no such property; it is mapped to a size policy so that a control
// placed in a layout behaves like its aligned counterpart (a top/bottom
// control keeps its own height, a client control takes what is left).
#pragma once

#include <QSizePolicy>

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

inline QSizePolicy AlignSizePolicy(TAlign align)
{
    switch (align) {
    case alTop:
    case alBottom:
        return {QSizePolicy::Preferred, QSizePolicy::Fixed};
    case alLeft:
    case alRight:
        return {QSizePolicy::Fixed, QSizePolicy::Preferred};
    case alClient:
        return {QSizePolicy::Expanding, QSizePolicy::Expanding};
    case alNone:
        break;
    }
    return {QSizePolicy::Fixed, QSizePolicy::Fixed};
}
