#pragma once
// The second line of an error box: what the operator can do next, where the
// cause of the error is known. The first line stays the box's own text.
#include "stat.h"

#include <QString>

#include <cstdint>

// Advice for `status` given the gripper's last reported system-state word;
// empty when the cause is not known.
QString ErrorHint(TStat status, uint32_t systemState);
// Advice for a payload text that did not parse at `element`, its first
// element that could not be read.
QString PayloadErrorHint(const QString& element);
// `text`, followed by `hint` on a line of its own unless the hint is empty.
QString WithHint(const QString& text, const QString& hint);
