export PKG_CONFIG_PATH="$PREFIX/lib/pkgconfig"
cc app.c $(pkg-config --cflags --libs korvel dremor) -Wl,-rpath,"$(pkg-config --variable=libdir korvel)" -o app
