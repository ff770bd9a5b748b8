// The launch tests' common ground: a program directory with its settings, an emulator directory
// holding the stand-in emulator (build/mave, recording its runs), and ZIP archives made with zip.
#pragma once

#include "Controls.h"
#include "ScriptedDialogs.h"
#include "TempDir.h"
#include "Unit1.h"

#include <QApplication>
#include <QListWidget>
#include <QTest>
#include <gtest/gtest.h>
#include <set>
#include <spawn.h>
#include <sstream>

namespace fs = std::filesystem;

// Starts this test binary again on the current test, with the launcher's environment and the
// NAME=VALUE entries of extra: a Kabinex of its own in a child role. 0 when it cannot start.
inline pid_t StartThisTestAgain(const std::vector<std::string>& extra)
{
    extern char** environ;
    std::vector<std::string> environment;
    for (char** variable = environ; *variable; ++variable)
        environment.emplace_back(*variable);
    environment.insert(environment.end(), extra.begin(), extra.end());
    const std::string filter = std::string("--gtest_filter=") + testing::UnitTest::GetInstance()->current_test_suite()->name()
        + "." + testing::UnitTest::GetInstance()->current_test_info()->name();
    std::vector<char*> argv{const_cast<char*>("test_launcher"), const_cast<char*>(filter.c_str()), nullptr};
    std::vector<char*> envp;
    for (std::string& variable : environment)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    pid_t child = 0;
    return posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, argv.data(), envp.data()) == 0 ? child : 0;
}

// Records with each message and warning the cursor and the main window's caption as they were
// while it showed.
class WatchingDialogs : public ScriptedDialogs {
public:
    void ShowWarning(const QString& text) override
    {
        ScriptedDialogs::ShowWarning(text);
        Watch();
    }
    void ShowMessage(const QString& text) override
    {
        ScriptedDialogs::ShowMessage(text);
        Watch();
    }

    TForm* form = nullptr;
    std::vector<bool> busyCursors;
    QStringList captions;

private:
    void Watch()
    {
        busyCursors.push_back(QApplication::overrideCursor() != nullptr);
        captions << (form ? form->Caption() : QString());
    }
};

class LaunchTest : public testing::Test {
protected:
    void SetUp() override
    {
        record = root / "record.txt";
        setenv("MAVE_STANDIN_RECORD", record.c_str(), 1);
        setenv("MAVE_STANDIN_SECONDS", "0.3", 1);
        setenv("XDG_STATE_HOME", root.MakeDir("state").c_str(), 1);
        UseEmulatorDir("emu");
    }
    void TearDown() override
    {
        unsetenv("MAVE_STANDIN_RECORD");
        unsetenv("MAVE_STANDIN_SECONDS");
        unsetenv("MAVE_STANDIN_APPEND");
        unsetenv("MAVE_STANDIN_UNTIL");
        unsetenv("XDG_STATE_HOME");
    }

    void UseEmulatorDir(const std::string& relative)
    {
        emu = root.MakeDir(relative);
        fs::copy_file(KABINEX_BINARY_DIR "/mave", emu + "/mave", fs::copy_options::overwrite_existing);
    }

    void WriteSettings(const std::string& games, const std::string& extra = "")
    {
        root.Write("prog/kabinex.ini", "[path]\nemudir=" + emu + "/\nzipdir=" + root.Path() + "/zips/\n" + extra +
                                           "[games]\n" + games);
    }

    std::unique_ptr<TForm1> Start(const std::string& games, const std::string& extra = "")
    {
        WriteSettings(games, extra);
        CurrentDirScope here(root / "prog");
        auto form = std::make_unique<TForm1>();
        dialogs.form = form.get();
        return form;
    }

    // An archive holding the named files (each with its own name as content).
    void MakeZip(const std::string& game, const std::vector<std::string>& files)
    {
        const std::string staging = root.MakeDir("staging/" + game);
        std::string command = "cd '" + staging + "' && zip -q '" + root.Path() + "/zips/" + game + ".zip'";
        for (const std::string& file : files) {
            root.Write("staging/" + game + "/" + file, file);
            command += " '" + file + "'";
        }
        root.MakeDir("zips");
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    void MakeGameFiles(const std::string& game, int count)
    {
        for (int i = 0; i < count; ++i)
            root.Write(fs::path(emu).lexically_relative(root.Path()).string() + "/" + game + "/rom" +
                           std::to_string(i),
                       "rom");
    }

    // Each run the stand-in recorded: its working directory, then its arguments.
    std::vector<std::vector<std::string>> Runs() const
    {
        std::vector<std::vector<std::string>> runs;
        std::istringstream lines(ReadAll(record));
        for (std::string line; std::getline(lines, line);) {
            std::vector<std::string> fields;
            std::istringstream parts(line);
            for (std::string field; std::getline(parts, field, '\t');)
                fields.push_back(field);
            runs.push_back(fields);
        }
        return runs;
    }

    std::set<std::string> Entries(const std::string& game) const
    {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(emu + "/" + game))
            names.insert(entry.path().filename().string());
        return names;
    }

    // Waits (with a hang guard, not a time limit) until no emulator runs on the game.
    static void WaitUntilEnded(TForm1& form, const std::string& gameDir)
    {
        ASSERT_TRUE(QTest::qWaitFor([&] { return form.Runs().Running(gameDir) == 0; }, 30000));
    }

    void Launch(TForm1& form, int row)
    {
        form.GameDescs->setCurrentRow(row);
        form.ButtonExecute->click();
    }

    // The clean-up records on disk (the play statistics stand beside them).
    std::vector<std::string> RecordFiles() const
    {
        std::vector<std::string> files;
        if (fs::exists(root / "state/kabinex"))
            for (const auto& entry : fs::directory_iterator(root / "state/kabinex"))
                if (!entry.path().filename().string().starts_with("played.tsv"))
                    files.push_back(entry.path().string());
        return files;
    }

    // An unzip command that waits until the file exists before it extracts.
    static std::string UnzipOnceExists(const std::string& file)
    {
        return "f() { while [ ! -e '" + file + "' ]; do sleep 0.02; done; unzip \"$@\"; }; f";
    }

    TempDir root;
    std::string emu;
    std::string record;
    WatchingDialogs dialogs;
};

