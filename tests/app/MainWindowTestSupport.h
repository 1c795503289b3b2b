// Shared by the main window tests: a window whose shell services are recorded instead of used,
// media made at test time, the two sets of command states as text, and waiting for runs.
#pragma once

#include "app/MainFrm.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/TestSupport.h"

#include "component/VeloxConverter.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QPushButton>
#include <QTableWidget>
#include <QToolButton>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace main_window_testing {

using namespace testing_support;

// Runs the event loop until done(); false when that takes unreasonably long (a hang).
inline bool WaitUntil(const std::function<bool()> &done, int seconds = 120)
{
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > giveUp)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Runs the event loop for a while.
inline void Spin(int milliseconds)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < until) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

struct Shown {
    QMessageBox::Icon icon;
    QString text;
};

// The states of commands (buttons or menu items) as "+" (enabled) and "-" (disabled); for the
// seven of a set in the order Add, Clear, Remove, Start, Pause, Resume, Stop.
inline std::string StatesOf(const std::vector<const QObject *> &commands)
{
    std::string states;
    for (const QObject *command : commands) {
        const auto *action = qobject_cast<const QAction *>(command);
        const bool enabled = action ? action->isEnabled() : qobject_cast<const QWidget *>(command)->isEnabled();
        states += enabled ? '+' : '-';
    }
    return states;
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureLibrariesLoaded();
        std::filesystem::create_directories(program);
        window = std::make_unique<TfrmMain>(nullptr, QString::fromStdString(program.string()),
                                            QString::fromStdString(user.string()));
        window->ChooseFiles = [this] {
            ++dialogs;
            return next.isEmpty() ? QStringList() : QStringList{next};
        };
        window->OpenUrl = [this](const QUrl &url) {
            opened.push_back(url);
            return true;
        };
        window->ShowMessage = [this](QMessageBox::Icon icon, const QString &text) { shown.push_back({icon, text}); };
        window->Notify = [this](const QString &, const QString &body) { notices.push_back(body); };
        window->AskStopAndClose = [this] {
            ++askedToClose;
            return stopAndClose;
        };
    }

    void TearDown() override { window.reset(); }

    std::string ToolBar() const
    {
        return StatesOf({window->ToolButton1, window->ToolButton2, window->ToolButton3, window->ToolButton7,
                         window->ToolButton5, window->ToolButton6, window->ToolButton4});
    }
    std::string Hidden() const
    {
        return StatesOf({window->btnAdd, window->btnClear, window->btnRemove, window->btnStart, window->btnPause,
                         window->btnResume, window->btnStop});
    }

    std::string Wav(const std::string &name, double seconds)
    {
        const std::string path = dir.File(name);
        WriteSineWav(path, seconds);
        return path;
    }
    std::string Mp3(const std::string &name, double seconds)
    {
        const std::string path = dir.File(name);
        WriteSineMp3(path, seconds);
        return path;
    }

    // Adds file through the tool bar's "Add file" and its dialog.
    void AddByToolBar(const std::string &file)
    {
        next = QString::fromStdString(file);
        window->ToolButton1Click();
    }

    QString Cell(int row, int column) const
    {
        const QTableWidgetItem *item = window->lvFiles->item(row, column);
        return item ? item->text() : QStringLiteral("<none>");
    }
    int Rows() const { return window->lvFiles->rowCount(); }
    // Selects rows alone, whatever keys a test before left held.
    void Select(std::initializer_list<int> rows)
    {
        QItemSelectionModel *selection = window->lvFiles->selectionModel();
        selection->clearSelection();
        for (int row : rows)
            selection->select(window->lvFiles->model()->index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    void Select(int row) { Select({row}); }
    void SelectNone() { window->lvFiles->clearSelection(); }

    // Runs the event loop until the run has ended and its last updates are in.
    bool WaitForRunEnd(int seconds = 120)
    {
        return WaitUntil([this] { return !window->RunActive(); }, seconds);
    }

    TempDir dir;
    std::filesystem::path program = dir.Path() / "program";
    std::filesystem::path user = dir.Path() / "user";
    std::unique_ptr<TfrmMain> window;
    QString next; // what the open dialog answers
    int dialogs = 0;
    std::vector<QUrl> opened;
    std::vector<Shown> shown;
    std::vector<QString> notices; // the desktop's, at the end of a run
    int askedToClose = 0;
    bool stopAndClose = true; // the answer to closing during a run
};

} // namespace main_window_testing
