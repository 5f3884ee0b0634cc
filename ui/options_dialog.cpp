#include "ui/options_dialog.h"

#include "ui/image_list.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSvgRenderer>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <cmath>

#include "ui/twips.h"

// The pictures are compiled into this static library; its resources must be
// registered by name, since nothing else refers to them.
static void RegisterOptionsImages() {
    Q_INIT_RESOURCE(options_images);
}

namespace kesmark::ui {

namespace {

// Client area, in twips.
constexpr int kClientWidth = 6150;
constexpr int kClientHeight = 4920;

// The row's name (its key), kept apart from the text shown.
constexpr int kKeyRole = Qt::UserRole;

struct TabEntry {
    const char* caption;
    const char* key;
    const char* toolTip;
};
constexpr std::array<TabEntry, 5> kTabs = {{
    {"Skip", "Skip", "Set properties to skip"},
    {"Strict", "Strict", "Set properties used for strict comparison"},
    {"Data", "Data", "Set properties used for comparing data"},
    {"Engine", "Engine", "Set properties compared only between databases of the same kind"},
    {"Filter", "Filter",
     "Set the objects to compare and to leave out, as node key patterns such as "
     "TableDefs[tmp_*]"},
}};

QIcon RenderIcon(int number, double devicePixelRatio) {
    return RenderSvgIcon(QStringLiteral(":/options/%1.svg").arg(number), devicePixelRatio);
}

// A report-style list of names with a check box on every row.
QTreeWidget* MakeList(QWidget* page, int columnWidth,
                      const QString& header = QStringLiteral("Property")) {
    auto* list = new QTreeWidget(page);
    list->setColumnCount(1);
    list->setHeaderLabels({header});
    list->setRootIsDecorated(false);
    list->setColumnWidth(0, TwipsToPixels(columnWidth, list));
    return list;
}

void AppendRow(QTreeWidget* list, const OptionRow& row) {
    auto* item = new QTreeWidgetItem(list);
    const QString name = QString::fromStdString(row.name);
    item->setText(0, name);
    item->setData(0, kKeyRole, name);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(0, row.ticked ? Qt::Checked : Qt::Unchecked);
}

void ShowRows(QTreeWidget* list, const OptionRows& rows) {
    list->clear();
    for (const auto& row : rows) {
        AppendRow(list, row);
    }
}

OptionRows RowsOf(const QTreeWidget* list) {
    OptionRows rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = list->topLevelItem(i);
        rows.push_back(OptionRow{item->data(0, kKeyRole).toString().toStdString(),
                                 item->checkState(0) == Qt::Checked});
    }
    return rows;
}

QPushButton* MakeButton(const char* caption, QWidget* parent, int left, int top) {
    auto* button = new QPushButton(QString::fromLatin1(caption), parent);
    // No button answers Enter, not even Add.
    button->setAutoDefault(false);
    button->setDefault(false);
    Place(button, left, top, 1095, 375);
    return button;
}

}  // namespace

frmOptions::frmOptions(IniFile& settings, QWidget* owner) : QDialog(owner), settings_(settings) {
    RegisterOptionsImages();
    // The design places and sizes were made for an 8-point font.
    QFont designFont = font();
    designFont.setPointSizeF(8.0);
    setFont(designFont);
    setWindowTitle(QStringLiteral("Options"));
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFixedSize(TwipsToPixels(kClientWidth, this), TwipsToPixels(kClientHeight, this));
    for (int i = 0; i < static_cast<int>(ilTreeview.size()); ++i) {
        ilTreeview[i] = RenderIcon(i + 1, devicePixelRatioF());
    }

    tbsOptions = new QTabWidget(this);
    Place(tbsOptions, 105, 120, 5895, 4245);
    for (std::size_t i = 0; i < kTabs.size(); ++i) {
        picOptions[i] = new QWidget;
        const int index = tbsOptions->addTab(picOptions[i], QString::fromLatin1(kTabs[i].caption));
        tbsOptions->setTabToolTip(index, QString::fromLatin1(kTabs[i].toolTip));
        tbsOptions->tabBar()->setTabData(index, QString::fromLatin1(kTabs[i].key));
    }

    QWidget* skip = picOptions[0];
    tvCompare = new QTreeWidget(skip);
    tvCompare->setHeaderHidden(true);
    tvCompare->setColumnCount(1);
    tvCompare->setIconSize(QSize(16, 16));
    tvCompare->setSelectionMode(QAbstractItemView::SingleSelection);
    // The deepest nodes are wider than the tree: scroll rather than cut
    // their texts short.
    tvCompare->setIndentation(14);
    tvCompare->header()->setStretchLastSection(false);
    tvCompare->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    Place(tvCompare, 0, 120, 2535, 3615);
    txtProperty = new QLineEdit(skip);
    Place(txtProperty, 2640, 120, 1815, 315);
    cmdAdd = MakeButton("Add", skip, 4560, 120);
    lvProperties = MakeList(skip, 2500);
    Place(lvProperties, 2640, 600, 3015, 3135);

    QWidget* strict = picOptions[1];
    txtStrict = new QLineEdit(strict);
    Place(txtStrict, 0, 120, 4455, 315);
    cmdAddStrict = MakeButton("Add", strict, 4560, 120);
    lvStrict = MakeList(strict, 5000);
    Place(lvStrict, 0, 600, 5655, 3135);

    QWidget* data = picOptions[2];
    txtData = new QLineEdit(data);
    Place(txtData, 0, 120, 4455, 315);
    cmdAddData = MakeButton("Add", data, 4560, 120);
    lvData = MakeList(data, 5000);
    Place(lvData, 0, 600, 5655, 2175);
    lblMatchRecords = new QLabel(QStringLiteral("Match records:"), data);
    Place(lblMatchRecords, 0, 2895, 1335, 315);
    cboMatchRecords = new QComboBox(data);
    cboMatchRecords->addItem(QStringLiteral("By key"), static_cast<int>(RecordMatching::Key));
    cboMatchRecords->addItem(QStringLiteral("By position"),
                             static_cast<int>(RecordMatching::Position));
    cboMatchRecords->setToolTip(
        QStringLiteral("By key: rows of tables that share a key are paired by it, and the rows "
                       "only in one database or changed are shown. By position: the n-th record "
                       "with the n-th."));
    lblMatchRecords->setBuddy(cboMatchRecords);
    Place(cboMatchRecords, 1440, 2865, 2415, 315);
    lblChecksums = new QLabel(QStringLiteral("Checksums:"), data);
    Place(lblChecksums, 0, 3375, 1335, 315);
    cboChecksums = new QComboBox(data);
    cboChecksums->addItem(QStringLiteral("Auto"), static_cast<int>(ChecksumUse::Auto));
    cboChecksums->addItem(QStringLiteral("Off"), static_cast<int>(ChecksumUse::Off));
    cboChecksums->setToolTip(
        QStringLiteral("Auto: tables on a server whose rows are matched by key are compared by "
                       "checksums of key ranges that the servers compute, and only the rows of "
                       "ranges that differ are read. Off: every row is read."));
    lblChecksums->setBuddy(cboChecksums);
    Place(cboChecksums, 1440, 3345, 2415, 315);

    QWidget* engine = picOptions[3];
    txtEngine = new QLineEdit(engine);
    Place(txtEngine, 0, 120, 4455, 315);
    cmdAddEngine = MakeButton("Add", engine, 4560, 120);
    lvEngine = MakeList(engine, 5000);
    Place(lvEngine, 0, 600, 5655, 3135);

    chkIgnoreCase = new QCheckBox(QStringLiteral("Ignore case in names"), this);
    chkIgnoreCase->setToolTip(
        QStringLiteral("Names that differ only in letter case (Album, album) name one object"));
    Place(chkIgnoreCase, 105, 4515, 2300, 255);

    QWidget* filter = picOptions[4];
    txtInclude = new QLineEdit(filter);
    txtInclude->setPlaceholderText(QStringLiteral("TableDefs[Orders*]"));
    Place(txtInclude, 0, 120, 4455, 315);
    cmdAddInclude = MakeButton("Add", filter, 4560, 120);
    lvInclude = MakeList(filter, 5000, QStringLiteral("Compare only"));
    Place(lvInclude, 0, 540, 5655, 1335);
    txtExclude = new QLineEdit(filter);
    txtExclude->setPlaceholderText(QStringLiteral("QueryDefs[~sq_*]"));
    Place(txtExclude, 0, 1995, 4455, 315);
    cmdAddExclude = MakeButton("Add", filter, 4560, 1995);
    lvExclude = MakeList(filter, 5000, QStringLiteral("Leave out"));
    Place(lvExclude, 0, 2415, 5655, 1320);

    cmdOK = MakeButton("OK", this, 2490, 4455);
    cmdCancel = MakeButton("Cancel", this, 3720, 4455);
    cmdApply = MakeButton("Apply", this, 4920, 4455);

    connect(tbsOptions, &QTabWidget::currentChanged, this, &frmOptions::tbsOptions_Click);
    connect(tvCompare, &QTreeWidget::itemSelectionChanged, this, [this] {
        const auto selected = tvCompare->selectedItems();
        tvCompare_NodeClick(selected.isEmpty() ? nullptr : selected.front());
    });
    connect(cmdAdd, &QPushButton::clicked, this, &frmOptions::cmdAdd_Click);
    connect(cmdAddStrict, &QPushButton::clicked, this, &frmOptions::cmdAddStrict_Click);
    connect(cmdAddData, &QPushButton::clicked, this, &frmOptions::cmdAddData_Click);
    connect(cmdAddEngine, &QPushButton::clicked, this, &frmOptions::cmdAddEngine_Click);
    connect(cmdAddInclude, &QPushButton::clicked, this, &frmOptions::cmdAddInclude_Click);
    connect(cmdAddExclude, &QPushButton::clicked, this, &frmOptions::cmdAddExclude_Click);
    connect(cmdApply, &QPushButton::clicked, this, &frmOptions::cmdApply_Click);
    connect(cmdOK, &QPushButton::clicked, this, &frmOptions::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmOptions::cmdCancel_Click);

    // Key preview: the dialog sees every key before the control with the
    // focus does.
    installEventFilter(this);
    for (QWidget* child : findChildren<QWidget*>()) {
        child->installEventFilter(this);
    }

    const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        const QRect area = screen->geometry();
        move(area.left() + (area.width() - width()) / 2,
             area.top() + (area.height() - height()) / 2);
    }

    LoadStrictList();
    LoadDataList();
    LoadEngineList();
    chkIgnoreCase->setChecked(IgnoreNameCase(settings_));
    LoadFilterLists();
    LoadCompareTree();
    tbsOptions->setCurrentIndex(0);
    tbsOptions_Click();
}

QTreeWidgetItem* frmOptions::Node(std::string_view tag) const {
    const QString key = QString::fromUtf8(tag.data(), static_cast<qsizetype>(tag.size()));
    const auto found =
        tvCompare->findItems(QStringLiteral("*"), Qt::MatchWildcard | Qt::MatchRecursive);
    for (QTreeWidgetItem* item : found) {
        if (item->data(0, kKeyRole).toString() == key) {
            return item;
        }
    }
    return nullptr;
}

OptionsPage frmOptions::SelectedPage() const {
    const QString key = tbsOptions->tabBar()->tabData(tbsOptions->currentIndex()).toString();
    if (key == QLatin1String("Strict")) {
        return OptionsPage::Strict;
    }
    if (key == QLatin1String("Data")) {
        return OptionsPage::Data;
    }
    if (key == QLatin1String("Engine")) {
        return OptionsPage::Engine;
    }
    if (key == QLatin1String("Filter")) {
        return OptionsPage::Filter;
    }
    return OptionsPage::Skip;
}

namespace {

// The options tree's picture of a level (its own image list: 1 database,
// 2 table, 3 query, 4 container, 5 document, 6 field, 7 index, 8 parameter,
// 9 relation).
int OptionsIcon(Level level) {
    switch (level) {
        case Level::Databases:
            return 1;
        case Level::TableDefs:
        case Level::Records:
        case Level::Rows:
            return 2;
        case Level::QueryDefs:
            return 3;
        case Level::Containers:
            return 4;
        case Level::Documents:
            return 5;
        case Level::TableFields:
        case Level::IndexFields:
        case Level::QueryFields:
        case Level::RelationFields:
            return 6;
        case Level::Indexes:
            return 7;
        case Level::Parameters:
            return 8;
        case Level::Relations:
            return 9;
    }
    return 1;
}

}  // namespace

void frmOptions::LoadCompareTree() {
    tvCompare->clear();
    const SkipTicks ticks = ReadSkipTicks(settings_);
    for (std::size_t i = 0; i < kCompareTree.size(); ++i) {
        const CompareTreeNode& entry = kCompareTree[i];
        QTreeWidgetItem* parent = entry.parent.empty() ? nullptr : Node(entry.parent);
        auto* node = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tvCompare);
        node->setText(
            0, QString::fromUtf8(entry.text.data(), static_cast<qsizetype>(entry.text.size())));
        node->setData(
            0, kKeyRole,
            QString::fromUtf8(entry.tag.data(), static_cast<qsizetype>(entry.tag.size())));
        node->setIcon(0, ilTreeview[OptionsIcon(entry.level) - 1]);
        node->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        node->setCheckState(0, ticks[i] ? Qt::Checked : Qt::Unchecked);
    }
}

void frmOptions::LoadStrictList() {
    ShowRows(lvStrict, ReadOptionRows(settings_, kStrictSection));
}

void frmOptions::LoadDataList() {
    ShowRows(lvData, ReadOptionRows(settings_, kDataSection));
    cboMatchRecords->setCurrentIndex(
        cboMatchRecords->findData(static_cast<int>(ReadDataOptions(settings_).matching)));
    cboChecksums->setCurrentIndex(
        cboChecksums->findData(static_cast<int>(ReadDataOptions(settings_).checksums)));
}

void frmOptions::LoadEngineList() {
    ShowRows(lvEngine, ReadOptionRows(settings_, kEngineSection));
}

void frmOptions::LoadFilterLists() {
    ShowRows(lvInclude, ReadFilterRows(settings_, true));
    ShowRows(lvExclude, ReadFilterRows(settings_, false));
}

void frmOptions::tbsOptions_Click() {
    const int shown = tbsOptions->currentIndex();
    for (int i = 0; i < static_cast<int>(picOptions.size()); ++i) {
        picOptions[i]->setEnabled(i == shown);
    }
}

void frmOptions::tvCompare_NodeClick(QTreeWidgetItem* node) {
    if (!node) {
        listTag_.reset();
        lvProperties->clear();
        return;
    }
    listTag_ = node->data(0, kKeyRole).toString().toStdString();
    ShowRows(lvProperties, ReadOptionRows(settings_, *listTag_));
}

void frmOptions::AddName(QLineEdit* field, QTreeWidget* list) {
    OptionRows rows = RowsOf(list);
    const AddOutcome outcome = AddOptionRow(rows, field->text().toStdString());
    switch (outcome.result) {
        case AddResult::Ignored:
            break;
        case AddResult::Refused:
            QMessageBox::warning(this, windowTitle(),
                                 QStringLiteral("A property name cannot contain a line break or a "
                                                "NUL character."));
            break;
        case AddResult::Existing:
            list->scrollToItem(list->topLevelItem(static_cast<int>(outcome.row)));
            break;
        case AddResult::Added:
            AppendRow(list, rows.back());
            break;
    }
}

void frmOptions::AddPattern(QLineEdit* field, QTreeWidget* list) {
    OptionRows rows = RowsOf(list);
    std::string error;
    const AddOutcome outcome = AddFilterRow(rows, field->text().toStdString(), error);
    switch (outcome.result) {
        case AddResult::Ignored:
            break;
        case AddResult::Refused:
            QMessageBox::warning(this, windowTitle(), QString::fromStdString(error));
            break;
        case AddResult::Existing:
            list->scrollToItem(list->topLevelItem(static_cast<int>(outcome.row)));
            break;
        case AddResult::Added:
            AppendRow(list, rows.back());
            break;
    }
}

void frmOptions::cmdAddInclude_Click() {
    AddPattern(txtInclude, lvInclude);
}

void frmOptions::cmdAddExclude_Click() {
    AddPattern(txtExclude, lvExclude);
}

void frmOptions::cmdAdd_Click() {
    AddName(txtProperty, lvProperties);
}

void frmOptions::cmdAddStrict_Click() {
    AddName(txtStrict, lvStrict);
}

void frmOptions::cmdAddData_Click() {
    AddName(txtData, lvData);
}

void frmOptions::cmdAddEngine_Click() {
    AddName(txtEngine, lvEngine);
}

bool frmOptions::cmdApply_Click() {
    bool saved = false;
    switch (SelectedPage()) {
        case OptionsPage::Skip: {
            SkipPageState page;
            for (std::size_t i = 0; i < kCompareTree.size(); ++i) {
                const QTreeWidgetItem* node = Node(kCompareTree[i].tag);
                page.ticks[i] = node && node->checkState(0) == Qt::Checked;
            }
            page.selectedTag = listTag_;
            page.rows = RowsOf(lvProperties);
            saved = ApplySkipPage(settings_, page);
            break;
        }
        case OptionsPage::Strict:
            saved = ApplyListPage(settings_, kStrictSection, RowsOf(lvStrict));
            break;
        case OptionsPage::Data:
            saved =
                ApplyDataPage(settings_, RowsOf(lvData),
                              static_cast<RecordMatching>(cboMatchRecords->currentData().toInt()),
                              static_cast<ChecksumUse>(cboChecksums->currentData().toInt()));
            break;
        case OptionsPage::Engine:
            saved = ApplyListPage(settings_, kEngineSection, RowsOf(lvEngine));
            break;
        case OptionsPage::Filter:
            saved = ApplyFilterPage(settings_, RowsOf(lvInclude), RowsOf(lvExclude));
            break;
    }
    saved = ApplyIgnoreNameCase(settings_, chkIgnoreCase->isChecked()) && saved;
    if (!saved) {
        QMessageBox::warning(this, windowTitle(),
                             QStringLiteral("The options could not be saved to %1.")
                                 .arg(QString::fromStdString(settings_.Path().string())));
    }
    return saved;
}

void frmOptions::cmdOK_Click() {
    if (cmdApply_Click()) {
        accept();
    }
}

void frmOptions::cmdCancel_Click() {
    reject();
}

bool frmOptions::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<const QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab && key->modifiers() == Qt::ControlModifier) {
            tbsOptions->setCurrentIndex((tbsOptions->currentIndex() + 1) % tbsOptions->count());
            return true;
        }
        // Only Ctrl+Tab changes pages: the tab strip does not act on other
        // Tab combinations (Ctrl+Shift+Tab, Ctrl+Alt+Tab) that the control
        // with the focus left unused.
        if (watched == tbsOptions && (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab)) {
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace kesmark::ui
