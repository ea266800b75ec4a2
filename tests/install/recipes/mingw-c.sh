i686-w64-mingw32-gcc app.c -I"$PREFIX/include/korvel" -I"$PREFIX/include/dremor" -L"$PREFIX/lib" -lKorvel -lDremor -o app.exe
cp "$PREFIX/bin/Korvel.dll" "$PREFIX/bin/Dremor.dll" .
