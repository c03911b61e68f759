// SPDX-License-Identifier: GPL-3.0-or-later
// The Kelvaro window.
#include "mainform.h"

#include "accessiblenames.h"
#include "container.h"
#include "containeraccessible.h"
#include "controllayout.h"
#include "frame.h"
#include "keyfilters.h"
#include "menukey.h"
#include "runprogress.h"
#include "savedialog.h"
#include "screenfit.h"
#include "scrollingform.h"
#include "selectonfocus.h"
#include "tabcontrol.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabBar>

#include <cmath>
#include <limits>

namespace {

// The focus order: Tab goes from the lowest index up, as the design numbers
// the controls. The options "one", "two", "three" take 1, 11 and 21, each
// followed by a counter panel's controls (panel i's at 2 + 10i to 10 + 10i);
// then the commands, the tab headers, the Container, the fields and Exit.
namespace TabIndex {
constexpr int CounterOption = 1;
constexpr int PanelStride = 10;
constexpr int Alpha = 2;
constexpr int Numeric = 3;
constexpr int Up = 4;
constexpr int Down = 5;
constexpr int Padded = 6;
constexpr int PadWidth = 7;
constexpr int StartCount = 8;
constexpr int EndCount = 9;
constexpr int Step = 10;
constexpr int DoIt = 31;
constexpr int ClearContainer = 32;
constexpr int TabHeaders = 34;
constexpr int Container = 45;
// Field 4 comes first: its index is below those of Fields 1 to 3.
constexpr int Field4 = 60;
constexpr int Field1 = 61;
constexpr int Exit = 71;
constexpr int PrintToFile = 73;
} // namespace TabIndex

QString element(const char *array, int k)
{
    return QStringLiteral("%1(%2)").arg(QLatin1String(array)).arg(k);
}

// Shows the wait cursor while a run works.
class WaitCursor
{
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { release(); }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;

    void release()
    {
        if (m_shown)
            QGuiApplication::restoreOverrideCursor();
        m_shown = false;
    }

private:
    bool m_shown = true;
};

void selectWholeText(QLineEdit *box)
{
    box->setSelection(0, static_cast<int>(box->text().size()));
}

// Tab stops once in a group of options, at the selected one, as on other
// desktops. Qt would stop at the option focused last, or at the first.
void keepTabStopOnSelection(QRadioButton *option)
{
    auto follow = [option](bool selected) {
        const int policy = selected ? option->focusPolicy() | Qt::TabFocus
                                    : option->focusPolicy() & ~Qt::TabFocus;
        option->setFocusPolicy(static_cast<Qt::FocusPolicy>(policy));
    };
    follow(option->isChecked());
    QObject::connect(option, &QRadioButton::toggled, option, follow);
}

// The colour of the two, black and white, that stands out more against the
// background, by WCAG's contrast.
QColor contrastingWith(const QColor &background)
{
    const auto linear = [](double channel) {
        return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    const double luminance = 0.2126 * linear(background.redF())
        + 0.7152 * linear(background.greenF()) + 0.0722 * linear(background.blueF());
    // Black's contrast, (L + 0.05) / 0.05, against white's, 1.05 / (L + 0.05).
    return (luminance + 0.05) * (luminance + 0.05) >= 0.05 * 1.05 ? QColor(Qt::black)
                                                                  : QColor(Qt::white);
}

void setUpTextBox(QLineEdit *box)
{
    // No box limits the length of its text; Qt's default would cut pasted text at 32767.
    box->setMaxLength(std::numeric_limits<int>::max());
}

} // namespace

Main::Main(QWidget *parent)
    : QWidget(parent)
{
    installWindowRole();
    installContainerAccessibility();
    installMenuKey();
    setObjectName(QStringLiteral("Main"));
    setWindowTitle(QStringLiteral("Kelvaro"));
    setWindowIcon(QIcon(QStringLiteral(":/kelvaro/org.kelvaro.Kelvaro.svg")));
    QFont arial(QStringLiteral("Arial"));
    arial.setPointSizeF(10.2);
    setFont(arial);
    // The layout stays at the top-left whatever the window's size, and
    // scrolls in a window smaller than itself. A window that may take any size
    // is what lets a maximize succeed on every screen: on Wayland a window
    // that cannot take the size it is given is ended by the compositor.
    const QSize designed(pixels(6144), pixels(7080));
    QWidget *form = addScrollingForm(this, designed);
    resize(designed.boundedTo(screen()->availableSize()));
    fitToScreenWhenShown(this);

    createControls(form);
    connectHandlers();
    CommonDialog1.setPresenter(
        [this](const CommonDialog &settings) { return showSaveDialog(this, settings); });
    Form_Load();
}

void Main::createControls(QWidget *form)
{
    ControlLayout layout;

    Picture1 = new QFrame(form);
    layout.place(Picture1, QStringLiteral("Picture1"), {0, 0, 6252, 492});
    Picture1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Picture1->setBackgroundRole(QPalette::Highlight);
    Picture1->setAutoFillBackground(true);
    Command1 = layout.add<QPushButton>(Picture1, QStringLiteral("Command1"),
        QStringLiteral("Do IT"), {66, 0, 852, 348}, TabIndex::DoIt);
    Command2 = layout.add<QPushButton>(Picture1, QStringLiteral("Command2"),
        QStringLiteral("Clear Container"), {1026, 0, 2172, 348}, TabIndex::ClearContainer);
    CBExit = layout.add<QPushButton>(Picture1, QStringLiteral("CBExit"), QStringLiteral("&Exit"),
        {5040, 0, 852, 372}, TabIndex::Exit);
    // Enter presses the button that has the focus, as Space does; outside a
    // dialog no button is the default, so Enter in a box and Escape press none.
    // Styles draw a button's focus frame in the highlight colour, which is the
    // strip's own: the buttons take black or white for it instead.
    QPalette buttons = Command1->palette();
    buttons.setColor(QPalette::Highlight,
        contrastingWith(Picture1->palette().color(Picture1->backgroundRole())));
    for (QPushButton *button : {Command1, Command2, CBExit}) {
        button->setAutoDefault(true);
        button->setPalette(buttons);
    }

    MainFrame
        = layout.add<Frame>(form, QStringLiteral("MainFrame"), QString(), {0, 480, 6132, 6732});
    SSTab1 = new TabControl(MainFrame);
    layout.place(SSTab1, QStringLiteral("SSTab1"), {120, 240, 5892, 6252});
    layout.takesFocusAt(TabIndex::TabHeaders, SSTab1->tabBar());
    QWidget *setupPage = SSTab1->addPage(QStringLiteral("setup"));
    QWidget *fieldsPage = SSTab1->addPage(QStringLiteral("Fields"));
    QWidget *containerPage = SSTab1->addPage(QStringLiteral("Container"));

    Frame7 = layout.add<Frame>(setupPage, QStringLiteral("Frame7"),
        QStringLiteral("number of counters"), {480, 360, 4332, 732});
    const char *counterCaptions[] = {"one", "two", "three"};
    for (int k = 0; k < 3; ++k) {
        Option3.append(layout.add<QRadioButton>(Frame7, element("Option3", k),
            QLatin1String(counterCaptions[k]), {240 + 960 * k, 360, 852, 252},
            TabIndex::CounterOption + TabIndex::PanelStride * k));
    }
    Option3(0)->setChecked(true);
    for (int i = 0; i < 3; ++i)
        createCounterPanel(layout, setupPage, i);

    Frame8 = layout.add<Frame>(
        fieldsPage, QStringLiteral("Frame8"), QString(), {120, 480, 5532, 5652});
    // Top to bottom as a line reads: Field 1, counter 1, Field 2, ... Field 4.
    const int fieldTabIndex[]
        = {TabIndex::Field1, TabIndex::Field1 + 1, TabIndex::Field1 + 2, TabIndex::Field4};
    for (int j = 0; j < 4; ++j) {
        const int top = 360 + 1158 * j;
        Label1.append(layout.add<QLabel>(Frame8, element("Label1", j),
            QStringLiteral("Field %1").arg(j + 1), {120, top, 732, 252}));
        Text5.append(layout.add<QLineEdit>(
            Frame8, element("Text5", j), QString(), {120, top + 366, 5292, 336}, fieldTabIndex[j]));
        setUpTextBox(Text5(j));
    }
    for (int k = 0; k < 3; ++k) {
        Label2.append(layout.add<QLabel>(Frame8, element("Label2", k),
            QStringLiteral("+ Counter %1 here +").arg(k + 1), {120, 1176 + 1158 * k, 1692, 228}));
        Label2(k)->setAlignment(Qt::AlignCenter);
        // The caption is 4 pixels wider than its label in this font; set a
        // shade closer it fits, glyphs and size unchanged.
        QFont tighter = Label2(k)->font();
        tighter.setLetterSpacing(QFont::PercentageSpacing, 96);
        Label2(k)->setFont(tighter);
    }
    for (QWidget *hidden : std::initializer_list<QWidget *> {
             Label2(1), Label1(2), Text5(2), Label2(2), Label1(3), Text5(3)})
        hidden->hide();

    Frame9 = layout.add<Frame>(
        containerPage, QStringLiteral("Frame9"), QString(), {120, 360, 5652, 5772});
    Check3 = layout.add<QCheckBox>(Frame9, QStringLiteral("Check3"),
        QStringLiteral("print to file"), {240, 240, 4572, 372}, TabIndex::PrintToFile);
    Check3->setChecked(true);
    Text6 = new Container(Frame9);
    connect(Text6, &Container::copyRefused, this, &Main::warn);
    layout.place(Text6, QStringLiteral("Text6"), {120, 720, 5412, 4812}, TabIndex::Container);

    layout.applyFocusOrder();
}

void Main::createCounterPanel(ControlLayout &layout, QWidget *page, int i)
{
    const int tab = TabIndex::PanelStride * i;
    Frame1.append(layout.add<Frame>(page, element("Frame1", i), QStringLiteral("Counter 1"),
        {120 + 1800 * i, 1080, 1812, 5052}));
    Frame *panel = Frame1(i);

    Frame2.append(layout.add<Frame>(
        panel, element("Frame2", i), QStringLiteral("Type"), {120, 240, 1452, 852}));
    Option1.append(layout.add<QRadioButton>(Frame2(i), element("Option1", i),
        QStringLiteral("Alpha"), {120, 240, 852, 252}, TabIndex::Alpha + tab));
    Option4.append(layout.add<QRadioButton>(Frame2(i), element("Option4", i),
        QStringLiteral("Numeric"), {120, 480, 1092, 348}, TabIndex::Numeric + tab));
    Option4(i)->setChecked(true);

    Frame5.append(layout.add<Frame>(
        panel, element("Frame5", i), QStringLiteral("Direction"), {120, 1080, 1452, 852}));
    Option2.append(layout.add<QRadioButton>(Frame5(i), element("Option2", i), QStringLiteral("UP"),
        {120, 240, 1212, 252}, TabIndex::Up + tab));
    Option5.append(layout.add<QRadioButton>(Frame5(i), element("Option5", i),
        QStringLiteral("Down"), {120, 480, 972, 252}, TabIndex::Down + tab));
    Option2(i)->setChecked(true);

    Frame3.append(
        layout.add<Frame>(panel, element("Frame3", i), QString(), {120, 1800, 1452, 1092}));
    Check1.append(layout.add<QCheckBox>(Frame3(i), element("Check1", i), QStringLiteral("Padded"),
        {120, 240, 1212, 252}, TabIndex::Padded + tab));
    Text1.append(layout.add<QLineEdit>(Frame3(i), element("Text1", i), QStringLiteral("3"),
        {120, 600, 1212, 336}, TabIndex::PadWidth + tab));
    Text1(i)->setEnabled(false);
    Text1(i)->hide();

    Frame4.append(layout.add<Frame>(
        panel, element("Frame4", i), QStringLiteral("Start Count"), {120, 2880, 1452, 732}));
    Text2.append(layout.add<QLineEdit>(Frame4(i), element("Text2", i), QStringLiteral("10"),
        {120, 240, 1212, 336}, TabIndex::StartCount + tab));
    ENdCntFrm.append(layout.add<Frame>(
        panel, element("ENdCntFrm", i), QStringLiteral("End Count"), {120, 3600, 1452, 732}));
    Text3.append(layout.add<QLineEdit>(ENdCntFrm(i), element("Text3", i), QStringLiteral("20"),
        {120, 240, 1212, 336}, TabIndex::EndCount + tab));
    Frame6.append(layout.add<Frame>(
        panel, element("Frame6", i), QStringLiteral("Step"), {120, 4320, 1452, 612}));
    Text4.append(layout.add<QLineEdit>(Frame6(i), element("Text4", i), QStringLiteral("1"),
        {120, 240, 1212, 336}, TabIndex::Step + tab));
    for (QLineEdit *box : {Text1(i), Text2(i), Text3(i), Text4(i)}) {
        setUpTextBox(box);
        // Typed characters are filtered key by key; an input method would bypass that.
        box->setAttribute(Qt::WA_InputMethodEnabled, false);
    }

    if (i > 0)
        panel->hide();
}

void Main::connectHandlers()
{
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(CBExit, &QPushButton::clicked, this, [this] { CBExit_Click(); });

    // toggled, not clicked: a reaction runs when a choice changes, by mouse,
    // arrow key or Space. Clicking the option already selected changes nothing,
    // so it does not throw away the values the user typed.
    for (int i = 0; i < 3; ++i) {
        connect(Check1(i), &QCheckBox::toggled, this, [this, i] { Check1_Click(i); });
        connect(Option1(i), &QRadioButton::toggled, this, [this, i] { Option1_Click(i); });
        connect(Option4(i), &QRadioButton::toggled, this, [this, i] { Option4_Click(i); });
        connect(Option2(i), &QRadioButton::toggled, this, [this, i] { Option2_Click(i); });
        connect(Option5(i), &QRadioButton::toggled, this, [this, i] { Option5_Click(i); });
        connect(Option3(i), &QRadioButton::toggled, this, [this, i](bool selected) {
            if (selected)
                Option3_Click(i);
        });
    }

    for (int i = 0; i < 3; ++i) {
        for (QRadioButton *option : {Option1(i), Option2(i), Option3(i), Option4(i), Option5(i)})
            keepTabStopOnSelection(option);
    }

    auto *selectOnFocus = new SelectOnFocus(this);
    for (int i = 0; i < 3; ++i) {
        selectOnFocus->watch(Text1(i), [this, i] { Text1_GotFocus(i); });
        selectOnFocus->watch(Text2(i), [this, i] { Text2_GotFocus(i); });
        selectOnFocus->watch(Text3(i), [this, i] { Text3_GotFocus(i); });
        selectOnFocus->watch(Text4(i), [this, i] { Text4_GotFocus(i); });
        watchKeys(Text1(i), [this, i](int16_t &keyAscii) { Text1_KeyPress(i, keyAscii); });
        watchKeys(Text2(i), [this, i](int16_t &keyAscii) { Text2_KeyPress(i, keyAscii); });
        watchKeys(Text3(i), [this, i](int16_t &keyAscii) { Text3_KeyPress(i, keyAscii); });
        watchKeys(Text4(i), [this, i](int16_t &keyAscii) { Text4_KeyPress(i, keyAscii); });
    }
    for (int j = 0; j < 4; ++j)
        selectOnFocus->watch(Text5(j), [this, j] { Text5_GotFocus(j); });
    // The Container's clicks arrive at its viewport.
    selectOnFocus->watch(
        Text6, [this] { Text6_GotFocus(); }, Text6->viewport());
}

void Main::watchKeys(QLineEdit *box, const std::function<void(int16_t &)> &keyPress)
{
    m_keyPress.insert(box, keyPress);
    box->installEventFilter(this);
}

bool Main::eventFilter(QObject *watched, QEvent *event)
{
    const auto keyPress = m_keyPress.constFind(watched);
    if (keyPress == m_keyPress.constEnd() || event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const std::optional<int16_t> code = typedCharacterCode(*static_cast<QKeyEvent *>(event));
    if (!code)
        return QWidget::eventFilter(watched, event);
    int16_t keyAscii = *code;
    (*keyPress)(keyAscii);
    // A code set to 0 swallows the key; any other types the box's own character.
    return keyAscii == 0 || QWidget::eventFilter(watched, event);
}

void Main::Form_Load()
{
    m_module.NewLine = "\r\n";
    m_module.CounterCount = 1;
    for (int i = 0; i < 3; ++i) {
        Option1(i)->setChecked(false);
        Option4(i)->setChecked(true);
        Option2(i)->setChecked(true);
        Option5(i)->setChecked(false);
        Check1(i)->setChecked(false);
        Text1(i)->setText(QStringLiteral("3"));
        Text1(i)->setEnabled(false);
        Text1(i)->setVisible(false);
        Text2(i)->setText(QStringLiteral("10"));
        Text3(i)->setText(QStringLiteral("20"));
        Text4(i)->setText(QStringLiteral("1"));
    }
    for (int j = 0; j < 4; ++j)
        Text5(j)->clear();
    Text6->clear();
    Text5(0)->setText(QStringLiteral("First Field "));
    Text5(1)->setText(QStringLiteral(" Second Field "));
    Text5(2)->setText(QStringLiteral(" Third Field "));
    Text5(3)->setText(QStringLiteral(" Fourth Field"));
    // Selecting from code runs the reaction only when the choice changes; the
    // one-counter layout is applied either way.
    Option3(0)->setChecked(true);
    Option3_Click(0);
}

void Main::Command1_Click()
{
    const RunSettings settings = readSettings();
    m_module.ReadCounterCount(settings.counterOptions);
    const std::variant<RunPlan, Refusal> planned = m_module.planRun(settings);
    if (const Refusal *refusal = std::get_if<Refusal>(&planned)) {
        warn(refusal->message);
        focusBox(refusal->box);
        return;
    }
    const RunPlan &plan = std::get<RunPlan>(planned);

    WaitCursor wait;
    // Emptied only once the run is sure to go ahead: a refused run keeps the
    // Container as it was.
    Text6->clear();
    m_module.BuildLines(plan);
    const std::optional<RunModule::Message> message = m_module.WriteLines(
        plan, Check3->checkState() == Qt::Checked, CommonDialog1,
        [this](const QString &path, RecordStream records, int64_t fileBytes) {
            return writeShowingProgress(
                path, std::move(records), fileBytes, m_progressDelayMs, this);
        },
        [this](const std::shared_ptr<const RunLines> &lines) { Text6->setLines(lines); });
    wait.release();
    if (message && message->problem)
        warn(message->text);
    else if (message)
        QMessageBox::information(this, tr("Kelvaro"), message->text);
}

void Main::Command2_Click()
{
    Text6->clear();
}

void Main::CBExit_Click()
{
    // A run closes its file before it returns, so none is open here.
    QCoreApplication::exit(0);
}

void Main::Check1_Click(int index)
{
    const bool ticked = Check1(index)->checkState() == Qt::Checked;
    Text1(index)->setEnabled(ticked);
    Text1(index)->setVisible(ticked);
}

void Main::Option1_Click(int index)
{
    if (!Option1(index)->isChecked())
        return;
    Check1(index)->setEnabled(false);
    Text1(index)->setText(QStringLiteral("1"));
    if (Option5(index)->isChecked())
        writeStartEnd(index, "Z", "A");
    else
        writeStartEnd(index, "A", "Z");
}

void Main::Option4_Click(int index)
{
    if (!Option4(index)->isChecked())
        return;
    Check1(index)->setEnabled(true);
    Text1(index)->setText(QStringLiteral("3"));
    if (Option5(index)->isChecked())
        writeStartEnd(index, "20", "10");
    else
        writeStartEnd(index, "10", "20");
}

void Main::Option2_Click(int index)
{
    if (!Option2(index)->isChecked())
        return;
    if (Option1(index)->isChecked())
        writeStartEnd(index, "A", "Z");
    else
        writeStartEnd(index, "10", "20");
}

void Main::Option5_Click(int index)
{
    if (!Option5(index)->isChecked())
        return;
    if (Option1(index)->isChecked())
        writeStartEnd(index, "Z", "A");
    else
        writeStartEnd(index, "20", "10");
}

void Main::Option3_Click(int index)
{
    const int counters = index + 1;
    Text5(2)->setVisible(counters >= 2);
    Text5(3)->setVisible(counters >= 3);
    Label1(2)->setVisible(counters >= 2);
    Label1(3)->setVisible(counters >= 3);
    Label2(1)->setVisible(counters >= 2);
    Label2(2)->setVisible(counters >= 3);
    Frame1(0)->setVisible(true);
    Frame1(1)->setVisible(counters >= 2);
    Frame1(2)->setVisible(counters >= 3);

    m_module.CounterCount = static_cast<int16_t>(counters);
    for (int i = 0; i < 3; ++i) {
        Text1(i)->setText(QStringLiteral("3"));
        if (Option2(i)->isChecked())
            writeStartEnd(i, "10", "20");
        else
            writeStartEnd(i, "20", "10");
        Text4(i)->setText(QStringLiteral("1"));
    }
}

void Main::writeStartEnd(int i, const char *start, const char *end)
{
    Text2(i)->setText(QLatin1String(start));
    Text3(i)->setText(QLatin1String(end));
}

void Main::Text1_GotFocus(int index)
{
    selectWholeText(Text1(index));
}

void Main::Text2_GotFocus(int index)
{
    selectWholeText(Text2(index));
}

void Main::Text3_GotFocus(int index)
{
    selectWholeText(Text3(index));
}

void Main::Text4_GotFocus(int index)
{
    selectWholeText(Text4(index));
}

void Main::Text5_GotFocus(int index)
{
    selectWholeText(Text5(index));
}

void Main::Text6_GotFocus()
{
    Text6->selectAllOnFocus();
}

void Main::Text1_KeyPress(int, int16_t &keyAscii)
{
    digitsFilter(keyAscii);
}

void Main::Text2_KeyPress(int index, int16_t &keyAscii)
{
    startEndKeyPress(Text2(index), index, keyAscii);
}

void Main::Text3_KeyPress(int index, int16_t &keyAscii)
{
    startEndKeyPress(Text3(index), index, keyAscii);
}

void Main::Text4_KeyPress(int, int16_t &keyAscii)
{
    digitsFilter(keyAscii);
}

void Main::startEndKeyPress(QLineEdit *box, int index, int16_t &keyAscii)
{
    // The panel's type is read at every key press, so a switch to Numeric
    // filters the very next key as a digit.
    if (Option1(index)->isChecked()) {
        lettersFilter(keyAscii);
        // An Alpha box holds one character: whatever the key, the old one goes.
        box->clear();
    } else {
        digitsFilter(keyAscii);
    }
}

RunSettings Main::readSettings() const
{
    RunSettings settings;
    for (int k = 0; k < 3; ++k) {
        const auto index = static_cast<size_t>(k);
        settings.counterOptions[index] = Option3(k)->isChecked();
        CounterPanel &panel = settings.panels[index];
        panel.alpha = Option1(k)->isChecked();
        panel.up = Option2(k)->isChecked();
        panel.padded = Check1(k)->checkState() == Qt::Checked;
        panel.width = Text1(k)->text();
        panel.start = Text2(k)->text();
        panel.end = Text3(k)->text();
        panel.step = Text4(k)->text();
    }
    for (int j = 0; j < 4; ++j)
        settings.fields[static_cast<size_t>(j)] = Text5(j)->text();
    settings.printToFile = Check3->checkState() == Qt::Checked;
    return settings;
}

void Main::warn(const QString &message)
{
    QMessageBox::warning(this, tr("Kelvaro"), message);
}

void Main::focusBox(const SettingBox &box)
{
    const ControlArray<QLineEdit> *boxes = nullptr;
    switch (box.kind) {
    case SettingBox::None:
        return;
    case SettingBox::Field:
        boxes = &Text5;
        break;
    case SettingBox::PadWidth:
        boxes = &Text1;
        break;
    case SettingBox::StartCount:
        boxes = &Text2;
        break;
    case SettingBox::EndCount:
        boxes = &Text3;
        break;
    case SettingBox::Step:
        boxes = &Text4;
        break;
    }
    QLineEdit *target = (*boxes)(box.index);
    SSTab1->showPageOf(target);
    // Its text selected as the focus arrives, so that typing replaces it.
    target->setFocus(Qt::OtherFocusReason);
}
