// Resource numbers of the pictures in artwork.rc; read by the resource compiler too, so
// plain macros only.
#pragma once

#define OLVARO_ART_BACKGROUND 101
#define OLVARO_ART_CHOOSER 102
#define OLVARO_ART_CHOOSER_PUSHED 103
#define OLVARO_ART_TRIANGLE 104
#define OLVARO_ART_BOTTOMBAR 105
#define OLVARO_ART_LOGO 106
#define OLVARO_ART_SETTINGS 107
#define OLVARO_ART_ARROW_TOP 108
#define OLVARO_ART_ARROW_LEFT 109
#define OLVARO_ART_ARROW_RIGHT 110
#define OLVARO_ART_ARROW_BOTTOM 111
#define OLVARO_ART_ABOUT 112
#define OLVARO_ART_TRAY 113
