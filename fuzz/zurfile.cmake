# Soundpack archive reader: arbitrary archive bytes, seeded with archives made by zutool spk pack.
sonivale_fuzzer(fuzz_zurfile 20 ${CMAKE_CURRENT_SOURCE_DIR}/seeds/zurfile ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_zurfile.cpp)
target_link_libraries(fuzz_zurfile PRIVATE zu)
