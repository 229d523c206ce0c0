// The window's access to the language engine: the text of a language key, empty when the
// loaded language has none, and the filling in of a text's "%s" and "%d" places.
#pragma once

#include <QString>
#include <QStringList>

QString GetLangText(const char* AKey);

// AFormat with each "%s" or "%d" replaced by the next of AArgs, in order ("%%" gives "%");
// places beyond AArgs are left as they are.
QString FormatText(const QString& AFormat, const QStringList& AArgs);
