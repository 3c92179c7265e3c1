#include "app/gui/d_UserPreferences.h"
#include <algorithm>

#include "app/Keyring.h"

#include <QFontDialog>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <cmath>
#include <utility>

#include "app/Preferences.h"
#include "db/RecordCache.h"
#include "resources/Strings.h"
#include "ui_d_UserPreferences.h"

namespace pw::app {

void ShowAutoWrapItem(QMenu& tools, QAction& item, bool show) {
    tools.removeAction(&item);
    if (show) {
        item.setEnabled(true);
        tools.addAction(&item);
    }
}

namespace {

void setTexts(QAbstractButton* b, int id) {
    b->setText(str(id));
    b->setAccessibleName(str(id));
}

void setTitle(QGroupBox* g, int id) {
    g->setTitle(str(id));
    g->setAccessibleName(str(id));
}

}  // namespace

d_UserPreferences::d_UserPreferences(Settings& settings, const QStringList& captions,
                                     const QFont& editorFont, IUserInteraction& ui,
                                     PreferencesHost host, QWidget* parent)
    : QDialog(parent),
      m_form(std::make_unique<Ui::d_UserPreferences>()),
      m_settings(settings),
      m_captions(captions),
      m_font(editorFont),
      m_ui(ui),
      m_host(std::move(host)) {
    m_form->setupUi(this);
    m_chooseFont = [](const QFont& current, QWidget* parent) -> std::optional<QFont> {
        bool ok = false;
        const QFont f =
            QFontDialog::getFont(&ok, current, parent, QString(),
                                 QFontDialog::ScalableFonts | QFontDialog::NonScalableFonts);
        return ok ? std::optional<QFont>(f) : std::nullopt;
    };
    translate();
    load();
    connect(m_form->fontButton, &QPushButton::clicked, this, &d_UserPreferences::chooseFont);
    connect(m_form->buttonBox, &QDialogButtonBox::accepted, this, &d_UserPreferences::accept);
    connect(m_form->buttonBox, &QDialogButtonBox::rejected, this, &d_UserPreferences::reject);
}

d_UserPreferences::~d_UserPreferences() = default;

void d_UserPreferences::translate() {
    Ui::d_UserPreferences& f = *m_form;
    setWindowTitle(str(ids::kPrefCaption));
    f.tabs->setTabText(0, str(ids::kPrefTabGeneral));
    f.tabs->setTabText(1, str(ids::kPrefTabText));
    f.tabs->setTabText(2, str(ids::kPrefTabMail));
    // a titled group of choices, each button with its own text
    using Choice = std::pair<QAbstractButton*, int>;
    const auto group = [](QGroupBox* g, int id, std::initializer_list<Choice> choices) {
        setTitle(g, id);
        for (const auto& [button, text] : choices)
            setTexts(button, text);
    };
    const auto yesNo = [&](QGroupBox* g, int id, QAbstractButton* yes, QAbstractButton* no) {
        group(g, id, {{yes, ids::kPrefYes}, {no, ids::kPrefNo}});
    };
    yesNo(f.startShortcutGroup, ids::kPrefStartShortcut, f.startShortcutYes, f.startShortcutNo);
    yesNo(f.toolbarGroup, ids::kPrefToolbar, f.toolbarYes, f.toolbarNo);
    group(f.uiGroup, ids::kPrefUi,
          {{f.uiButtons, ids::kPrefButtons}, {f.uiNoButtons, ids::kPrefNoButtons}});
    setTitle(f.strFieldSizeGroup, ids::kPrefStrFieldSize);
    f.strFieldSizeCombo->setAccessibleName(str(ids::kPrefStrFieldSize));
    yesNo(f.wrapGroup, ids::kPrefWrap, f.wrapYes, f.wrapNo);
    yesNo(f.logViewGroup, ids::kPrefLogView, f.logViewYes, f.logViewNo);
    group(f.dbExportGroup, ids::kPrefDbExport,
          {{f.exportIncludeNames, ids::kPrefIncludeNames},
           {f.exportExcludeNames, ids::kPrefExcludeNames}});
    f.recordLimitLabel->setText(str(ids::kPrefRecordLimit));
    f.recordLimitSpin->setAccessibleName(str(ids::kPrefRecordLimit));
    setTexts(f.keyringCheck, ids::kPrefKeyring);
    setTexts(f.importDatesIsoCheck, ids::kPrefImportDatesIso);
    setTexts(f.shareListsOnServerCheck, ids::kPrefShareOnServer);
    group(f.fontGroup, ids::kPrefFontGroup, {{f.fontButton, ids::kPrefFontButton}});
    f.fontSample->setAccessibleName(str(ids::kPrefFontSample));
    group(f.errorHandlingGroup, ids::kPrefErrorHandling,
          {{f.ignoreErrorRadio, ids::kPrefIgnoreError},
           {f.displayDialogRadio, ids::kPrefDisplayDialog},
           {f.terminateRadio, ids::kPrefTerminate}});
    group(f.addrSetTypeGroup, ids::kPrefAddrSetType,
          {{f.addrToRadio, ids::kPrefAddrTo},
           {f.addrCcRadio, ids::kPrefAddrCc},
           {f.addrBccRadio, ids::kPrefAddrBcc}});
    f.addrNote->setText(str(ids::kPrefAddrNote));
    yesNo(f.lengthGroup, ids::kPrefLength, f.lengthYes, f.lengthNo);
    const auto spin = [](QLabel* label, QSpinBox* box, QLabel* unit, int id, int unitId) {
        label->setText(str(id));
        box->setAccessibleName(str(id));
        unit->setText(str(unitId));
    };
    spin(f.oneTimeSendSpinLabel, f.oneTimeSendSpin, f.oneTimeSendSpinUnit, ids::kPrefOneTimeSend,
         ids::kPrefUnitMail);
    spin(f.sendWaitSpinLabel, f.sendWaitSpin, f.sendWaitSpinUnit, ids::kPrefSendWait,
         ids::kPrefUnitSec);
    spin(f.connectWaitSpinLabel, f.connectWaitSpin, f.connectWaitSpinUnit, ids::kPrefConnectWait,
         ids::kPrefUnitMin);
    setTitle(f.testAddressGroup, ids::kPrefTestAddress);
    f.testEmailEdit->setAccessibleName(str(ids::kPrefTestAddress));
    setTitle(f.defaultFieldGroup, ids::kPrefDefaultField);
    f.defaultFieldCombo->setAccessibleName(str(ids::kPrefDefaultField));
    setTitle(f.japaneseExtrasGroup, ids::kPrefJapaneseExtras);
    f.japaneseExtrasCombo->setAccessibleName(str(ids::kPrefJapaneseExtras));
    f.buttonBox->button(QDialogButtonBox::Ok)->setText(str(ids::kPrefOk));
    f.buttonBox->button(QDialogButtonBox::Cancel)->setText(str(ids::kPrefCancel));
}

void d_UserPreferences::load() {
    Ui::d_UserPreferences& f = *m_form;
    const Settings& s = m_settings;
    const auto pair = [](QAbstractButton* yes, QAbstractButton* no, bool on) {
        yes->setChecked(on);
        no->setChecked(!on);
    };
    pair(f.startShortcutYes, f.startShortcutNo, s.startShortcut);
    pair(f.toolbarYes, f.toolbarNo, s.toolbar != 0);
    pair(f.uiButtons, f.uiNoButtons, s.ui == 1);
    for (int i = 0; i < 5; ++i)
        f.strFieldSizeCombo->addItem(QString::number(StrFieldSizeFromIndex(i)));
    f.strFieldSizeCombo->setCurrentIndex(StrFieldSizeIndex(s.strFieldSize));
    pair(f.wrapYes, f.wrapNo, s.wrap == 1);
    pair(f.logViewYes, f.logViewNo, s.logView == 1);
    pair(f.exportIncludeNames, f.exportExcludeNames, s.dbExportItem);
    f.recordLimitSpin->setRange(db::kDefaultRecordLimit, db::kMaxRecordLimit);
    f.recordLimitSpin->setValue(db::ClampRecordLimit(s.recordLimit));
    f.keyringCheck->setChecked(keepsPasswordsInKeyring(s, processKeyring()));
    f.importDatesIsoCheck->setChecked(s.importDatesIso != 0);
    f.shareListsOnServerCheck->setChecked(s.shareListsOnServer != 0);

    f.fontSample->setFont(m_font);
    f.fontSample->setPlainText(str(ids::kPrefFontSample) +
                               QStringLiteral("\nabcdefghijklmn\nABCDEFGHIJKLMN"));

    f.defaultFieldCombo->addItem(str(ids::kPrefNone));
    f.defaultFieldCombo->addItems(m_captions);
    f.defaultFieldCombo->setCurrentIndex(s.defaultRecipientField + 1);
    f.japaneseExtrasCombo->addItems({str(ids::kPrefJapaneseExtrasUtf8),
                                     str(ids::kPrefJapaneseExtrasWindows),
                                     str(ids::kPrefJapaneseExtrasReplace)});
    f.japaneseExtrasCombo->setCurrentIndex(storedNumber(s.japaneseExtras));
    f.oneTimeSendSpin->setRange(kOneTimeSendRange.minimum, kOneTimeSendRange.maximum);
    f.sendWaitSpin->setRange(kSendWaitRange.minimum, kSendWaitRange.maximum);
    f.connectWaitSpin->setRange(kConnectWaitRange.minimum, kConnectWaitRange.maximum);
    f.oneTimeSendSpin->setValue(kOneTimeSendRange.clamp(s.oneTimeSend));
    f.sendWaitSpin->setValue(kSendWaitRange.clamp(s.sendWait));
    f.connectWaitSpin->setValue(kConnectWaitRange.clamp(s.connectWait));
    f.ignoreErrorRadio->setChecked(s.sendContinue == send::ErrorPolicy::Continue);
    f.displayDialogRadio->setChecked(s.sendContinue == send::ErrorPolicy::Ask);
    f.terminateRadio->setChecked(s.sendContinue == send::ErrorPolicy::Terminate);
    f.addrToRadio->setChecked(s.addrSetType == send::AddrSetType::AllTo);
    f.addrCcRadio->setChecked(s.addrSetType == send::AddrSetType::RestCc);
    f.addrBccRadio->setChecked(s.addrSetType == send::AddrSetType::RestBcc);
    pair(f.lengthYes, f.lengthNo, s.length);
    f.testEmailEdit->setText(s.testEmailAddress);
}

void d_UserPreferences::chooseFont() {
    if (!m_chooseFont)
        return;
    const std::optional<QFont> chosen = m_chooseFont(m_font, this);
    if (chosen) {
        m_font = *chosen;
        m_form->fontSample->setFont(m_font);
    }
}

void d_UserPreferences::accept() {
    Ui::d_UserPreferences& f = *m_form;
    Settings& s = m_settings;
    s.startShortcut = f.startShortcutYes->isChecked();
    s.toolbar = f.toolbarYes->isChecked() ? 1 : 0;
    s.ui = f.uiButtons->isChecked() ? 1 : 0;
    s.logView = f.logViewYes->isChecked() ? 1 : 0;
    s.wrap = f.wrapYes->isChecked() ? 1 : 0;
    s.dbExportItem = f.exportIncludeNames->isChecked();
    s.strFieldSize = StrFieldSizeFromIndex(f.strFieldSizeCombo->currentIndex());
    s.recordLimit = db::ClampRecordLimit(f.recordLimitSpin->value());
    // a choice is stored once made; untouched, it keeps following whether a keyring answers
    s.importDatesIso = f.importDatesIsoCheck->isChecked() ? 1 : 0;
    s.shareListsOnServer = f.shareListsOnServerCheck->isChecked() ? 1 : 0;
    if (f.keyringCheck->isChecked() != keepsPasswordsInKeyring(s, processKeyring()))
        s.keyringPasswords = f.keyringCheck->isChecked() ? 1 : 0;

    s.sendContinue = f.ignoreErrorRadio->isChecked()     ? send::ErrorPolicy::Continue
                     : f.displayDialogRadio->isChecked() ? send::ErrorPolicy::Ask
                                                         : send::ErrorPolicy::Terminate;
    // The spin boxes accept only numbers in their ranges, typed or not.
    s.oneTimeSend = kOneTimeSendRange.clamp(f.oneTimeSendSpin->value());
    s.sendWait = kSendWaitRange.clamp(f.sendWaitSpin->value());
    s.connectWait = kConnectWaitRange.clamp(f.connectWaitSpin->value());
    s.length = f.lengthYes->isChecked();
    s.addrSetType = f.addrToRadio->isChecked()   ? send::AddrSetType::AllTo
                    : f.addrCcRadio->isChecked() ? send::AddrSetType::RestCc
                                                 : send::AddrSetType::RestBcc;
    s.testEmailAddress = f.testEmailEdit->text();
    s.defaultRecipientField = f.defaultFieldCombo->currentIndex() - 1;
    // the box lists the choices in their own order
    s.japaneseExtras = static_cast<smtp::JapaneseExtras>(
        std::clamp(f.japaneseExtrasCombo->currentIndex(), 0, int(smtp::JapaneseExtras::Replace)));

    EditorFont chosen;
    chosen.family = m_font.family();
    if (m_font.pointSize() > 0) {
        chosen.pointSize = m_font.pointSize();
    } else {
        const QScreen* screen = this->screen();
        const double dpi = screen != nullptr ? screen->logicalDotsPerInchY() : 96.0;
        chosen.pointSize = int(std::lround(m_font.pixelSize() * 72.0 / dpi));
    }
    chosen.weight = m_font.weight() == QFont::Normal ? 400 : int(m_font.weight());
    chosen.italic = m_font.italic();
    const RegularFont regular = RegularEditorFont(chosen);
    if (regular.styleCancelled)
        (void)m_ui.message(str(ids::kPrefMessageCaption), str(ids::kPrefBoldItalic),
                           MessageKind::Information);
    m_font = QFont(EditorFaceName(regular.font.family), regular.font.pointSize);
    m_font.setWeight(QFont::Normal);
    m_font.setItalic(false);
    f.fontSample->setFont(m_font);
    s.fontSize = regular.font.pointSize;
    s.font = regular.font.family;

    if (m_host.showAutoWrapItem)
        m_host.showAutoWrapItem(s.wrap == 1);
    if (m_host.showLogWindow)
        m_host.showLogWindow(s.logView == 1);
    if (m_host.showToolbar)
        m_host.showToolbar(s.toolbar != 0);
    if (m_host.setEditorFont)
        m_host.setEditorFont(m_font);
    QDialog::accept();
}

}  // namespace pw::app
