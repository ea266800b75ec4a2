llvm-dlltool -m i386 -k -d kernel32.def -l kernel32.lib
clang --target=i686-pc-windows-msvc -c -O1 -ffreestanding -fno-stack-protector -I"$PREFIX/include/korvel" korvel_app.c
lld-link /subsystem:console /entry:mainCRTStartup /nodefaultlib /safeseh:no korvel_app.o "$PREFIX/lib/Korvel.lib" kernel32.lib
clang --target=i686-pc-windows-msvc -c -O1 -ffreestanding -fno-stack-protector -I"$PREFIX/include/dremor" dremor_app.c
lld-link /subsystem:console /entry:mainCRTStartup /nodefaultlib /safeseh:no dremor_app.o "$PREFIX/lib/Dremor.lib" kernel32.lib
cp "$PREFIX/bin/Korvel.dll" "$PREFIX/bin/Dremor.dll" .
