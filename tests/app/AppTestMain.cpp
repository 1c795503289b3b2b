// The windows need a Qt application object; without a display they draw off screen.
#include <QApplication>
#include <QThreadPool>

#include <gtest/gtest.h>

#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/lsan_interface.h>
#endif

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt draws scaled pictures on pool threads. They stay until the leak check has run: one that
    // is just ending while the check runs at exit would have its thread data reported lost.
    QThreadPool::globalInstance()->setExpiryTimeout(-1);
    int result;
    {
        QApplication application(argc, argv);
        QApplication::setApplicationDisplayName("Velox Test");
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
#ifdef __SANITIZE_ADDRESS__
    __lsan_do_leak_check();
#endif
    return result;
}
