# Makes real files with Qt's writers (QImage, QPdfWriter, QTextDocument), so
# it links Qt Gui as well as the engine.
tamberlin_gtest(recognition_test SOURCES recognition_test.cpp LIBS tamberlin_engine Qt6::Core Qt6::Gui)
