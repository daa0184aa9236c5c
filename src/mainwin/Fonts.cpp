#include "mainwin/Fonts.h"

#include <QFont>

void InstallFontSubstitutions() {
    static const bool installed = [] {
        QFont::insertSubstitution("Arial Black", ArialBlackStandIn);
        QFont::insertSubstitution("Arial", "Liberation Sans");
        QFont::insertSubstitution("MS Sans Serif", "Liberation Sans");
        return true;
    }();
    (void)installed;
}
