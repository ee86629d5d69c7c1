# Sourced by the Windows build and tests: chooses how Windows programs run under Wine here.
# Sets wine (the command that runs a program) and wine_x86 (1 when 32-bit x86 programs run).
# Some kernels run no 32-bit x86 programs at all (built without, or with it turned off, as on
# some virtual machines): Wine's 32-bit loader then cannot start, and only 64-bit Windows
# programs run, through the 64-bit loader in a 64-bit prefix.
if /usr/lib/wine/wine --version > /dev/null 2>&1; then
    wine=wine
    wine_x86=1
else
    wine=/usr/lib/wine/wine64
    wine_x86=0
    export WINELOADER=$wine WINEARCH=win64
fi
