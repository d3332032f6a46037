# A board link's byte stream, arbitrary, cut into frames and read as the board-link thread reads them.
sdk_bsp_fuzz_target(frame_cutter_fuzz ${CMAKE_CURRENT_LIST_DIR}/frame_cutter_fuzz.cpp)
