# The configuration reader: query and package text from arbitrary bytes, seeded with UCI files
# and uci's answers for them.
sdk_bsp_fuzz_target(uci_reader_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/uci_reader_fuzz.cpp
  SEEDS ${SDK_BSP_TESTDATA}/uci/device ${SDK_BSP_TESTDATA}/uci/committed ${SDK_BSP_TESTDATA}/uci/handwritten
        ${SDK_BSP_TESTDATA}/uci/expected)
