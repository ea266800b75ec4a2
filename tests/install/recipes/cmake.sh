cmake -S . -B build -DCMAKE_PREFIX_PATH="$PREFIX"
cmake --build build
