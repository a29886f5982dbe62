#include "tests/dialogs/dialog_test_support.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include "setup/dialogs/message_box.h"
#include "tests/support/private_network.h"

namespace dialogtest {
namespace {

QStringList recordedTexts;
QMessageBox::Icon recordedIcon = QMessageBox::NoIcon;

void Record(QWidget *, const QString &text, QMessageBox::Icon icon) {
    recordedTexts << text;
    recordedIcon = icon;
}

}  // namespace

bool WaitUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout) {
    if (done()) return true;
    QEventLoop loop;
    QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                     &loop, [&] {
                         if (done()) loop.quit();
                     });
    loop.exec();
    return done();
}

MessageRecorder::MessageRecorder() {
    Clear();
    tevrolink::dialogs::SetMessagePresenter(Record);
}

MessageRecorder::~MessageRecorder() {
    tevrolink::dialogs::SetMessagePresenter(nullptr);
}

QStringList MessageRecorder::Texts() const {
    return recordedTexts;
}

QMessageBox::Icon MessageRecorder::LastIcon() const {
    return recordedIcon;
}

void MessageRecorder::Clear() {
    recordedTexts.clear();
    recordedIcon = QMessageBox::NoIcon;
}

}  // namespace dialogtest

namespace {

// The application exists only while tests run, not when they are merely listed.
class WidgetApplication : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "dialog_tests";
        static char *argv[] = {name, nullptr};
        application_ = new QApplication(argc, argv);
    }
    void TearDown() override { delete application_; }

private:
    QApplication *application_ = nullptr;
};

}  // namespace

int main(int argc, char **argv) {
    testsupport::EnterPrivateNetwork();
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new WidgetApplication);
    return RUN_ALL_TESTS();
}
