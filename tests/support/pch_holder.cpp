// Holds the precompiled header that every test source reuses (see
// tests/CMakeLists.txt); as a program it only runs GoogleTest with no tests.
