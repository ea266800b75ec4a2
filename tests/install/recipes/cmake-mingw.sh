cmake -S . -B build --toolchain "$MINGW_TOOLCHAIN" -DCMAKE_FIND_ROOT_PATH="$PREFIX"
cmake --build build
