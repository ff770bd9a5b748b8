// A TDialogs that never blocks: it records every box it is asked to show and answers file
// dialogs from a script. Installed for its lifetime.
#pragma once

#include "Dialogs.h"

#include <QStringList>
#include <deque>

class ScriptedDialogs : public TDialogs {
public:
    ScriptedDialogs() { SetDialogs(this); }
    ~ScriptedDialogs() override { SetDialogs(nullptr); }

    void ShowError(const QString& message) override { errors << message; }
    void ShowWarning(const QString& text) override { warnings << text; }
    void ShowMessage(const QString& text) override { messages << text; }
    QString OpenFile(QWidget*, const TOpenDialogFilters& filter, const QString& initialDir) override
    {
        openedFilters.push_back(filter);
        openedDirs << initialDir;
        if (fileAnswers.empty())
            return {};
        QString answer = fileAnswers.front();
        fileAnswers.pop_front();
        return answer;
    }

    QStringList errors;
    QStringList warnings;
    QStringList messages;
    QStringList openedDirs;
    std::vector<TOpenDialogFilters> openedFilters;
    // Answers of the next file dialogs, in order; an empty text (or none left) is a cancel.
    std::deque<QString> fileAnswers;
};
