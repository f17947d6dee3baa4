#pragma once
// The text of Help > About: program name, version, build and Qt version.
#include <QString>

QString AboutText();
