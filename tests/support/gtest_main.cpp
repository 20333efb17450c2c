#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // Set also while ctest lists the tests. No test needs a display or plays through the machine's speakers, and
    // every machine sounds alike: with the real sinks ranked out, the default output ends on a fake sink.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("GST_PLUGIN_FEATURE_RANK"))
        qputenv("GST_PLUGIN_FEATURE_RANK", "pulsesink:NONE,alsasink:NONE,pipewiresink:NONE,osssink:NONE,"
                                           "oss4sink:NONE,jackaudiosink:NONE,openalsink:NONE");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
