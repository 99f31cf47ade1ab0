// Real XM modules from Debian's game data packages (tools/setup.sh installs them): the
// corpus of the real-module tests and of the music benchmark. Each module is named by the
// path its package installs.
#pragma once

#include <cstring>

namespace xmcorpus {

inline const char* const kRealModules[] = {
    // fb-music-high
    "/usr/share/games/frozen-bubble/snd/frozen-mainzik-2p.xm",
    // solarwolf
    "/usr/share/games/solarwolf/data/music/arg.xm",
    "/usr/share/games/solarwolf/data/music/aster2_sw.xm",
    // ballz-data
    "/usr/share/games/ballz/finalman-quickie.xm",
    // bomberclone-data
    "/usr/share/games/bomberclone/music/cerror-bobmberclone.xm",
    "/usr/share/games/bomberclone/music/cerror-bomberclone_numero_2.xm",
    "/usr/share/games/bomberclone/music/mario_is_a_weenie.xm",
    "/usr/share/games/bomberclone/music/slice_me_nice.xm",
    "/usr/share/games/bomberclone/music/zb-tnt.xm",
    // ceferino-data
    "/usr/share/games/ceferino/music/menu.xm",
    // criticalmass-data
    "/usr/share/games/criticalmass/lg-criti.xm",
    // heroes-sound-tracks
    "/usr/share/games/heroes/mod/endscroll.xm",
    "/usr/share/games/heroes/mod/heroes01.xm",
    "/usr/share/games/heroes/mod/heroes02.xm",
    "/usr/share/games/heroes/mod/heroes03.xm",
    "/usr/share/games/heroes/mod/heroes04.xm",
    "/usr/share/games/heroes/mod/heroes05.xm",
    "/usr/share/games/heroes/mod/heroes06.xm",
    "/usr/share/games/heroes/mod/heroes07.xm",
    "/usr/share/games/heroes/mod/heroes08.xm",
    "/usr/share/games/heroes/mod/heroes09.xm",
    "/usr/share/games/heroes/mod/heroes10.xm",
    "/usr/share/games/heroes/mod/intro.xm",
    "/usr/share/games/heroes/mod/menu.xm",
    // njam-data
    "/usr/share/games/njam/data/dali.xm",
    "/usr/share/games/njam/data/satisfy.xm",
    // pekka-kana-2-data
    "/usr/share/games/pekka-kana-2/data/music/bigboss.xm",
    "/usr/share/games/pekka-kana-2/data/music/hiscore.xm",
    "/usr/share/games/pekka-kana-2/data/music/intro.xm",
    "/usr/share/games/pekka-kana-2/data/music/map.xm",
    "/usr/share/games/pekka-kana-2/data/music/song01.xm",
    "/usr/share/games/pekka-kana-2/data/music/song02.xm",
    "/usr/share/games/pekka-kana-2/data/music/song03.xm",
    "/usr/share/games/pekka-kana-2/data/music/song05.xm",
    "/usr/share/games/pekka-kana-2/data/music/song06.xm",
    "/usr/share/games/pekka-kana-2/data/music/song07.xm",
    "/usr/share/games/pekka-kana-2/data/music/song08.xm",
    "/usr/share/games/pekka-kana-2/data/music/song09.xm",
    "/usr/share/games/pekka-kana-2/data/music/song10.xm",
    "/usr/share/games/pekka-kana-2/data/music/song12.xm",
    "/usr/share/games/pekka-kana-2/data/music/song13.xm",
    // rafkill-data
    "/usr/share/games/rafkill/music/song1.xm",
    "/usr/share/games/rafkill/music/song2.xm",
    "/usr/share/games/rafkill/music/song3.xm",
    "/usr/share/games/rafkill/music/song4.xm",
    "/usr/share/games/rafkill/music/song5.xm",
};

// "package folder/file" for tables: several packages have an intro.xm or a menu.xm.
inline const char* ShortName(const char* path) {
    constexpr char kGames[] = "/usr/share/games/";
    return std::strncmp(path, kGames, sizeof kGames - 1) == 0 ? path + sizeof kGames - 1 : path;
}

} // namespace xmcorpus
