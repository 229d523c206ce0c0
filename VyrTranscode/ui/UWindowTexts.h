// The window's access to the language engine: the text of a language key, empty when the
// loaded language has none.
#pragma once

#include <QString>

QString GetLangText(const char* AKey);
