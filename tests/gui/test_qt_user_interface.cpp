// The Qt user interface: boxes and the clipboard from the GUI thread and from workers.
#include <QAbstractButton>
#include <QClipboard>
#include <QGuiApplication>
#include <QMessageBox>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "gui/qt_user_interface.h"
#include "gui_test_util.h"

namespace hydrix::gui {
namespace {

struct SeenBox {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
    bool onGuiThread = false;
};

void AnswerBox(SeenBox& seen) {
    test::WhenModalShown([&seen](QDialog* dialog) {
        auto* box = qobject_cast<QMessageBox*>(dialog);
        ASSERT_NE(box, nullptr);
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        seen.buttons = static_cast<int>(box->buttons().size());
        seen.onGuiThread = QThread::currentThread() == qApp->thread();
        box->button(QMessageBox::Ok)->click();
    });
}

TEST(QtUserInterface, MessageBoxesFromAWorkerAreShownOnTheGuiThread) {
    test::InstalledQtDriver driver;
    QtUserInterface ui;
    SeenBox seen;
    AnswerBox(seen);
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        ui.ShowMessage("Port not found", "HYDRIX", platform::MessageIcon::Error);
        returned = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return returned.load(); }, 5000));
    worker.join();
    EXPECT_EQ(seen.title, "HYDRIX");
    EXPECT_EQ(seen.text, "Port not found");
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
    EXPECT_EQ(seen.buttons, 1);
    EXPECT_TRUE(seen.onGuiThread);

    AnswerBox(seen);
    ui.ShowMessage("Done", "", platform::MessageIcon::Information);
    EXPECT_EQ(seen.icon, QMessageBox::Information);

    // The exception report ends its sentence.
    AnswerBox(seen);
    ui.ShowException("TTerminalBuffer.tbSetColCount: new count too small");
    EXPECT_EQ(seen.text, "TTerminalBuffer.tbSetColCount: new count too small.");
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
}

TEST(QtUserInterface, ClipboardCarriesEveryByteBothWays) {
    test::InstalledQtDriver driver;
    QtUserInterface ui;
    const std::string bytes = std::string("a\r\n\xE9\xFF", 5);
    ui.SetClipboardText(bytes);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromLatin1(bytes.data(), 5));
    std::string fromWorker;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        fromWorker = ui.ClipboardText();
        done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 5000));
    worker.join();
    EXPECT_EQ(fromWorker, bytes);
}

}  // namespace
}  // namespace hydrix::gui
