# Received power-protocol text into the checkers and the hexadecimal conversions, and the encoder's
# frames back through them; seeded with the real frames.
sdk_bsp_fuzz_target(power_codec_fuzz ${CMAKE_CURRENT_LIST_DIR}/power_codec_fuzz.cpp
                    SEEDS ${SDK_BSP_TESTDATA}/power/frames.tsv)
