sonivale_fuzzer(fuzz_xml 20 ${CMAKE_CURRENT_SOURCE_DIR}/seeds/xml ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_xml.cpp)
target_link_libraries(fuzz_xml PRIVATE sonivale_xml)
