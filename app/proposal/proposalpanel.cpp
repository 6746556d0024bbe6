#include "app/proposal/proposalpanel.h"
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/liveobservers.h"
#include "app/panelcontrols.h"
#include "app/proposal/setupcheck.h"
#include "com232/identify.h"
#include "com232/paraframe.h"
#include "com232/rs232link.h"
#include "com232/videodata.h"
#include "gui/graphs.h"
#include "platform/tr.h"
#include "platform/userint.h"

#include <cstring>
#include <functional>
#include <string>

namespace {

enum class Stage {
    Hidden,
    Shown,    // proposed (or why not); the sensor untouched
    Checking, // in RAM, being measured
    Checked,  // in RAM and passed: the EEPROM is offered
    Ended,    // nothing left to undo: stored, discarded, or failed and written back
};

Stage stage = Stage::Hidden;
SetupProposal shown;
unsigned short before[PNUM], proposed[PNUM];

std::string fixed(double value, const char *format = "%.2f") {
    return ProposalNUMBER(value, format, "-");
}

void redrawLine() {
    if (videoLineTaken)
        PlotVIDEOCurve(adcbuf, xArray8);
}

// Offered once a line is there, while nothing of a proposal is in RAM or being measured; set only
// on a change, as the video loop asks with every line.
void dimPropose() {
    const int wanted =
        videoLineTaken && stage != Stage::Checking && stage != Stage::Checked ? 0 : 1;
    int dimmed = -1;
    GetCtrlAttribute(pHandle, BTNPropose, ATTR_DIMMED, &dimmed);
    if (dimmed != wanted)
        SetCtrlAttribute(pHandle, BTNPropose, ATTR_DIMMED, wanted);
}

// The bar under the graphs: its text, and the buttons this stage offers.
void showBar(const std::string &text, bool apply, bool eeprom, const char *discard) {
    SetCtrlVal(pHandle, TEXTProposal, text.c_str());
    SetCtrlAttribute(pHandle, BTNProposeApply, ATTR_VISIBLE, apply ? 1 : 0);
    SetCtrlAttribute(pHandle, BTNProposeEeprom, ATTR_VISIBLE, eeprom ? 1 : 0);
    SetCtrlAttribute(pHandle, BTNProposeDiscard, ATTR_VISIBLE, discard ? 1 : 0);
    if (discard)
        SetCtrlVal(pHandle, BTNProposeDiscard, discard);
    SetCtrlAttribute(pHandle, FRAMEProposal, ATTR_VISIBLE, 1);
    // The keyboard lands on what the operator decides next.
    if (apply)
        SetActiveCtrl(pHandle, BTNProposeApply);
    else if (eeprom)
        SetActiveCtrl(pHandle, BTNProposeEeprom);
    else if (discard)
        SetActiveCtrl(pHandle, BTNProposeDiscard);
    dimPropose();
}

void hideBar() {
    stage = Stage::Hidden;
    SetCtrlAttribute(pHandle, FRAMEProposal, ATTR_VISIBLE, 0);
    HidePROPOSALLines();
    redrawLine();
    dimPropose();
}

// The words in RAM go back as they were; ends the proposal either way. False when the sensor
// did not take them back.
bool writeBack(const std::string &why) {
    HidePROPOSALLines();
    redrawLine();
    stage = Stage::Ended;
    const bool restored = WriteSETUPWords(before, RAM) == SETUP_WRITTEN;
    target = RAM;
    const std::string text =
        why + " " +
        (restored ? kvex::trNow("RAM written back as it was.")
                  : kvex::trArgs("RAM could NOT be written back (%1): check the parameter set "
                                 "with GET before you go on.",
                                 {szStatus}));
    showBar(text, false, false, kvex::trNow("Close"));
    setStatus(text.c_str());
    showStatus();
    return restored;
}

void applyProposal() {
    stage = Stage::Checking;
    showBar(kvex::trArgs("Writing the proposal to RAM and measuring for about %1 s…",
                         {std::to_string(PROPOSAL_CHECK_CYCLES / 25)}),
            false, false, nullptr);
    if (!ReadRAMWords()) {
        stage = Stage::Shown;
        showBar(kvex::trArgs("No parameter set from RAM (%1): nothing was written.", {szStatus}),
                true, false, kvex::trNow("Discard"));
        return;
    }
    std::memcpy(before, pp, sizeof before);
    ProposalWORDS(before, shown, proposed);
    if (WriteSETUPWords(proposed, RAM) != SETUP_WRITTEN) {
        writeBack(kvex::trNow("The sensor did not take the proposal."));
        return;
    }
    const ProposalCheck check = CheckSETUPProposal();
    if (!check.passed()) {
        writeBack(kvex::trArgs("Check failed: both edges in %1 of %2 cycles, signal reserve %3.",
                               {std::to_string(check.withEdges), std::to_string(check.cycles),
                                reserveText(check.reserve)}));
        return;
    }
    stage = Stage::Checked;
    showBar(kvex::trArgs("Checked: both edges in all %1 cycles, spread %2 and %3, signal reserve "
                         "%4. In RAM now: store it, or Discard.",
                         {std::to_string(check.cycles), std::to_string(check.leftSpread),
                          std::to_string(check.rightSpread), reserveText(check.reserve)}),
            false, true, kvex::trNow("Discard"));
}

void storeProposal() {
    const SetupWrite written = WriteSETUPWords(proposed, EEPROM);
    // The panel's target follows what the live modes send to.
    target = RAM;
    SetCtrlVal(pHandle, RBTRam, 1);
    SetCtrlVal(pHandle, RBTEeprom, 0);
    if (written == SETUP_CANCELLED) {
        showBar(kvex::trNow("Not stored: the proposal stays in RAM until the sensor is switched "
                            "off, or Discard."),
                false, true, kvex::trNow("Discard"));
        return;
    }
    if (written == SETUP_FAILED) {
        showBar(
            kvex::trArgs("The EEPROM did not take the proposal (%1); it stays in RAM.", {szStatus}),
            false, true, kvex::trNow("Discard"));
        return;
    }
    stage = Stage::Ended;
    HidePROPOSALLines();
    redrawLine();
    showBar(kvex::trNow("Stored in the EEPROM: the sensor keeps the proposal."), false, false,
            kvex::trNow("Close"));
}

// Sensor work waits for the wire: a running loop is stopped first and the work follows it.
void whenWireFree(std::function<void()> work) {
    if (exchangeDepth == 0) {
        work();
    } else if (stop_flag == 0) {
        afterLiveLoop(std::move(work));
        stop_flag = 1;
    }
}

} // namespace

int CC_BTNPropose(int, int, int event, void *, int, int) {
    if (event != EVENT_COMMIT || !videoLineTaken || stage == Stage::Checking)
        return 0;
    // A proposal in RAM is stored or discarded before another is made from the line it changed.
    if (stage == Stage::Checked)
        return 0;
    shown = ProposeFROMVideoLine();
    stage = Stage::Shown;
    if (!shown.proposed) {
        HidePROPOSALLines();
        redrawLine();
        showBar(kvex::trArgs("No proposal: %1.", {proposalAdvice(shown.reason)}), false, false,
                kvex::trNow("Close"));
        return 0;
    }
    ShowPROPOSALLines(shown.threshold, shown.evalBegin, shown.evalEnd);
    redrawLine();
    const std::string where = kvex::trArgs(
        "Proposed (dashed): threshold %1 (now %2), window %3-%4 (now %5-%6).",
        {std::to_string(shown.threshold), std::to_string(vThd), std::to_string(shown.evalBegin),
         std::to_string(shown.evalEnd), std::to_string(eBeg), std::to_string(eEnd)});
    const std::string margins =
        kvex::trArgs("Margins %1 (lit) and %2 (shadow), signal reserve %3, contrast %4.",
                     {fixed(shown.litMargin, "%.0f"), fixed(shown.shadowMargin, "%.0f"),
                      fixed(shown.reserve), fixed(shown.contrast)});
    showBar(where + " " + margins, true, false, kvex::trNow("Discard"));
    return 0;
}

int CC_BTNProposeApply(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT && stage == Stage::Shown && shown.proposed)
        whenWireFree(applyProposal);
    return 0;
}

int CC_BTNProposeEeprom(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT && stage == Stage::Checked)
        whenWireFree(storeProposal);
    return 0;
}

int CC_BTNProposeDiscard(int, int, int event, void *, int, int) {
    if (event != EVENT_COMMIT || stage == Stage::Checking)
        return 0;
    if (stage != Stage::Checked) {
        hideBar();
        return 0;
    }
    whenWireFree([] {
        // Only over the proposal itself: after a change of port or a SEND from elsewhere, the old
        // words would overwrite a set they do not belong to.
        if (!ReadRAMWords() || std::memcmp(pp, proposed, sizeof proposed) != 0) {
            stage = Stage::Ended;
            HidePROPOSALLines();
            redrawLine();
            showBar(kvex::trNow("The sensor's RAM no longer holds the proposal: nothing was "
                                "written back."),
                    false, false, kvex::trNow("Close"));
            return;
        }
        if (writeBack(kvex::trNow("Proposal discarded.")))
            hideBar();
    });
    return 0;
}

void installProposal() {
    // A new panel starts without a proposal.
    stage = Stage::Hidden;
    HidePROPOSALLines();
    static int observer = 0;
    if (observer)
        return;
    LiveObserver hooks;
    hooks.videoLine = [] { dimPropose(); };
    hooks.runStarted = [] { SetCtrlAttribute(pHandle, BTNPropose, ATTR_DIMMED, 1); };
    hooks.runEnded = [](LiveEnd) { dimPropose(); };
    observer = addLiveObserver(hooks);
}
