#include "platform/Fonts.h"

void InstallFontSubstitutions() {
    static const bool installed = [] {
        QFont::insertSubstitution("Arial Black", ArialBlackStandIn);
        QFont::insertSubstitution("Arial", "Liberation Sans");
        QFont::insertSubstitution("MS Sans Serif", "Liberation Sans");
        return true;
    }();
    (void)installed;
}

QFont ArialBlackFont(int pixelSize) {
    InstallFontSubstitutions();
    QFont font("Arial Black");
    font.setPixelSize(pixelSize);
    font.setWeight(QFont::Black);
    return font;
}
