// The yardstick for the start-up and quit benchmarks: a lean Qt Widgets program doing the same
// visible work as Kabinex, written plainly. It reads kabinex.ini once, counts the entries of each
// game's directory, fills one list with every description in one call ("·· " before missing
// ones), shows scrshots/notavail.gif, titles its window "Kabinex", and on Escape writes the eight
// settings back in one rewrite of the file. Bench code only.
//
//   peer_launcher          the list filled with one item per game (QListWidget)
//   peer_launcher --view   the same list as a view over the file's text: a model whose rows are
//                          offsets into it, no item or string per game
//   peer_launcher --empty  a window of the same size with one empty list, nothing read
// When KABINEX_MARKS_FINAL_FD names a descriptor, a byte is written to it once every mark is
// known (here: before the window shows), as Kabinex does when its check ends.
#include <QAbstractListModel>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPixmap>
#include <QStringList>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Line {
    QString section; // lower case
    QString key;     // lower case, empty for no entry
    qsizetype valueBegin = 0;
    qsizetype valueEnd = 0;
};

struct Ini {
    QString text;
    std::vector<Line> lines;
    qsizetype Find(const QString& section, const QString& key) const
    {
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (lines[i].section == section && lines[i].key == key)
                return static_cast<qsizetype>(i);
        return -1;
    }
    QString Value(const QString& section, const QString& key, const QString& fallback) const
    {
        const qsizetype i = Find(section, key);
        return i < 0 ? fallback : text.mid(lines[i].valueBegin, lines[i].valueEnd - lines[i].valueBegin);
    }
};

Ini ReadIni(const QString& path)
{
    Ini ini;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        ini.text = QString::fromUtf8(file.readAll());
    QString section;
    qsizetype pos = 0;
    while (pos < ini.text.size()) {
        qsizetype end = ini.text.indexOf(QLatin1Char('\n'), pos);
        if (end < 0)
            end = ini.text.size();
        const QStringView line = QStringView(ini.text).mid(pos, end - pos).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            section = line.mid(1, line.indexOf(QLatin1Char(']')) - 1).toString().toLower();
        } else if (const qsizetype eq = ini.text.indexOf(QLatin1Char('='), pos); eq >= 0 && eq < end) {
            Line entry{section, QStringView(ini.text).mid(pos, eq - pos).trimmed().toString().toLower(), eq + 1, end};
            while (entry.valueBegin < end && ini.text[entry.valueBegin] == QLatin1Char(' '))
                ++entry.valueBegin;
            ini.lines.push_back(std::move(entry));
        }
        pos = end + 1;
    }
    return ini;
}

int CountEntries(const std::string& dir)
{
    DIR* handle = opendir(dir.c_str());
    if (!handle)
        return 0;
    int count = 0;
    while (readdir(handle))
        ++count;
    closedir(handle);
    return count;
}

// One row per game: where its description stands in the file's text, and its mark.
class CatalogueModel : public QAbstractListModel {
public:
    struct Row {
        qsizetype begin;
        qsizetype end;
        bool missing;
    };
    CatalogueModel(const QString& text, std::vector<Row> rows) : text_(text), rows_(std::move(rows)) {}
    int rowCount(const QModelIndex&) const override { return static_cast<int>(rows_.size()); }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role == Qt::SizeHintRole)
            return QSize(0, 13);
        if (role != Qt::DisplayRole)
            return {};
        const Row& row = rows_[static_cast<std::size_t>(index.row())];
        const QString description = text_.mid(row.begin, row.end - row.begin);
        return row.missing ? QStringLiteral("\u00B7\u00B7 ") + description : description;
    }

private:
    const QString& text_;
    std::vector<Row> rows_;
};

void ReportMarksFinal()
{
    if (const char* fd = std::getenv("KABINEX_MARKS_FINAL_FD"))
        (void)!write(std::atoi(fd), "\n", 1);
}

class PeerWindow : public QDialog {
public:
    explicit PeerWindow(bool asView)
    {
        setWindowTitle(QStringLiteral("Kabinex"));
        setFixedSize(547, 413);
        iniPath_ = QDir::currentPath() + QStringLiteral("/kabinex.ini");
        ini_ = ReadIni(iniPath_);

        auto* picture = new QLabel(this);
        picture->setGeometry(264, 8, 273, 193);
        picture->setAlignment(Qt::AlignCenter);
        picture->setPixmap(QPixmap(QDir::currentPath() + QStringLiteral("/scrshots/notavail.gif")));

        emuDir_ = new QLineEdit(ini_.Value(QStringLiteral("path"), QStringLiteral("emudir"), QStringLiteral(".")), this);
        emuDir_->setGeometry(16, 176, 169, 21);
        zipDir_ = new QLineEdit(ini_.Value(QStringLiteral("path"), QStringLiteral("zipdir"), QString()), this);
        zipDir_->setGeometry(16, 216, 169, 21);

        auto* group = new QGroupBox(QStringLiteral("Options:"), this);
        group->setGeometry(264, 224, 161, 177);
        const int tops[] = {24, 48, 72, 104, 128, 152};
        for (int i = 0; i < 6; ++i) {
            auto* box = new QCheckBox(OptionKeys()[i], group);
            box->setGeometry(16, tops[i], 129, 17);
            box->setChecked(ini_.Value(QStringLiteral("options"), OptionKeys()[i], QStringLiteral("0")).toInt() != 0);
            options_.push_back(box);
        }

        if (asView) {
            auto* view = new QListView(this);
            view->setGeometry(16, 256, 225, 145);
            view->setUniformItemSizes(true);
            view->setModel(new CatalogueModel(ini_.text, CatalogueRows()));
            view->setCurrentIndex(view->model()->index(0, 0));
        } else {
            auto* list = new QListWidget(this);
            list->setGeometry(16, 256, 225, 145);
            list->setUniformItemSizes(true);
            list->addItems(Catalogue());
            list->setCurrentRow(0);
        }
        ReportMarksFinal();
    }

    void reject() override
    {
        WriteBack();
        QDialog::reject();
    }

private:
    static const QStringList& OptionKeys()
    {
        static const QStringList keys{QStringLiteral("enablejoystick"), QStringLiteral("nosound"),
                                      QStringLiteral("altfmbase"), QStringLiteral("noscanlines"),
                                      QStringLiteral("vsync"), QStringLiteral("frameskip")};
        return keys;
    }

    std::vector<CatalogueModel::Row> CatalogueRows() const
    {
        const std::string emuDir = emuDir_->text().toStdString();
        std::vector<CatalogueModel::Row> rows;
        for (const Line& line : ini_.lines) {
            if (line.section != QStringLiteral("games"))
                continue;
            const qsizetype keyBegin = ini_.text.lastIndexOf(QLatin1Char('\n'), line.valueBegin) + 1;
            const QStringView name =
                QStringView(ini_.text).mid(keyBegin, ini_.text.indexOf(QLatin1Char('='), keyBegin) - keyBegin).trimmed();
            rows.push_back({line.valueBegin, line.valueEnd, CountEntries(emuDir + name.toString().toStdString()) < 7});
        }
        return rows;
    }

    QStringList Catalogue() const
    {
        const std::string emuDir = emuDir_->text().toStdString();
        QStringList descriptions;
        for (const Line& line : ini_.lines) {
            if (line.section != QStringLiteral("games"))
                continue;
            const qsizetype keyBegin = ini_.text.lastIndexOf(QLatin1Char('\n'), line.valueBegin) + 1;
            const QString name = ini_.text.mid(keyBegin, ini_.text.indexOf(QLatin1Char('='), keyBegin) - keyBegin).trimmed();
            QString description = ini_.text.mid(line.valueBegin, line.valueEnd - line.valueBegin);
            if (CountEntries(emuDir + name.toStdString()) < 7)
                description.prepend(QStringLiteral("\u00B7\u00B7 "));
            descriptions.push_back(description);
        }
        return descriptions;
    }

    // Replaces the eight values in the text (all present in the benchmark's file) and writes it once.
    void WriteBack()
    {
        std::vector<std::pair<qsizetype, QString>> values{
            {ini_.Find(QStringLiteral("path"), QStringLiteral("emudir")), emuDir_->text()},
            {ini_.Find(QStringLiteral("path"), QStringLiteral("zipdir")), zipDir_->text()}};
        for (int i = 0; i < 6; ++i)
            values.emplace_back(ini_.Find(QStringLiteral("options"), OptionKeys()[i]),
                                options_[i]->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
        std::sort(values.begin(), values.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
        QString text = ini_.text;
        for (const auto& [index, value] : values) {
            if (index < 0)
                continue;
            const Line& line = ini_.lines[index];
            text.replace(line.valueBegin, line.valueEnd - line.valueBegin, value);
        }
        QFile file(iniPath_);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(text.toUtf8());
    }

    QString iniPath_;
    Ini ini_;
    QLineEdit* emuDir_;
    QLineEdit* zipDir_;
    std::vector<QCheckBox*> options_;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--empty") == 0) {
        QDialog window;
        window.setWindowTitle(QStringLiteral("Kabinex"));
        window.setFixedSize(547, 413);
        (new QListWidget(&window))->setGeometry(16, 256, 225, 145);
        ReportMarksFinal();
        window.show();
        return app.exec();
    }
    PeerWindow window(argc > 1 && std::strcmp(argv[1], "--view") == 0);
    window.show();
    return app.exec();
}
