# Makes real files with Qt's writers (QImage, QPdfWriter, QTextDocument) and
# the sample file makers, so it links Qt Gui as well as the engine.
tamberlin_gtest(recognition_test SOURCES recognition_test.cpp LIBS tamberlin_engine tamberlin_sample_files Qt6::Core Qt6::Gui)
