#include "ui/UWindowTexts.h"

// Stand-in until the language engine is in the tree: every key answers empty text.
QString GetLangText(const char* AKey) {
  (void)AKey;
  return QString();
}
