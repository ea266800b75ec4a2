i686-w64-mingw32-g++ app.cpp -I"$PREFIX/include/korvel" -I"$PREFIX/include/dremor" -L"$PREFIX/lib" -lKorvel -lDremor -static-libgcc -static-libstdc++ -o app.exe
cp "$PREFIX/bin/Korvel.dll" "$PREFIX/bin/Dremor.dll" .
