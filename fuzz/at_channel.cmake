# The AT channel's line reader, exchanges and tokenizer on arbitrary module answers, seeded with the
# answers real modules gave (one seed per row of the transcript tables).
sdk_bsp_fuzz_target(at_channel_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/at_channel_fuzz.cpp
  SEEDS ${SDK_BSP_TESTDATA}/modem/transcripts.md)
