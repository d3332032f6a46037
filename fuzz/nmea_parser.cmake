# The GPS sentence parser on arbitrary receiver bytes, seeded with the real receiver captures.
sdk_bsp_fuzz_target(nmea_parser_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/nmea_parser_fuzz.cpp SEEDS ${SDK_BSP_TESTDATA}/nmea)
