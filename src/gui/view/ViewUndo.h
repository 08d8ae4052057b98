#pragma once

#include <QString>
#include <cstddef>
#include <deque>
#include <memory>

#include "transform/LocatorSet.h"
#include "world/DIBWorld.h"

namespace gridmorph {

// What one command changed, as it was before (on the undo list) or after (on the redo
// list): the locators, the unsaved flags, and, when the command touched them, the whole
// source map, the whole transformed map, or only the edges of one of them.
struct SViewUndoStep {
    QString strName;
    CLocatorSet locators;
    bool bModified = false;
    bool bTransformedModified = false;
    // The flags right after the command: when they are still so at undo, the flags from
    // before come back; a save in between leaves the map marked unsaved instead.
    bool bModifiedAfter = false;
    bool bTransformedModifiedAfter = false;

    bool bSourcePicture = false;
    std::unique_ptr<CDIBWorld> pSource;
    bool bTransformedPicture = false;
    std::unique_ptr<CDIBWorld> pTransformed;  // may be null: there was none
    bool bEdges = false;
    bool bEdgesOfTransformed = false;
    int bWorld = 0;
    double dWest = 0, dNorth = 0, dEast = 0, dSouth = 0;

    std::size_t Bytes() const;
};

// The undo and redo lists of the view's commands, the pictures they keep within a
// memory budget: when a new step would go over it, the oldest steps are dropped.
class CViewUndo {
public:
    static constexpr std::size_t kDefaultBudget = std::size_t(1) << 30;

    // A new command's step; the redo list goes. Returns how many old steps were dropped
    // to stay within the budget.
    int Push(std::unique_ptr<SViewUndoStep> pStep);
    std::unique_ptr<SViewUndoStep> TakeUndo();
    std::unique_ptr<SViewUndoStep> TakeRedo();
    // Puts a step back on a list without touching the other (for undo/redo themselves).
    int PushUndoKeepRedo(std::unique_ptr<SViewUndoStep> pStep);
    void PushRedo(std::unique_ptr<SViewUndoStep> pStep);
    void Clear();

    bool CanUndo() const { return !m_apUndo.empty(); }
    bool CanRedo() const { return !m_apRedo.empty(); }
    QString UndoName() const { return m_apUndo.empty() ? QString() : m_apUndo.back()->strName; }
    QString RedoName() const { return m_apRedo.empty() ? QString() : m_apRedo.back()->strName; }
    std::size_t UndoCount() const { return m_apUndo.size(); }
    std::size_t Bytes() const;
    std::size_t Budget() const { return m_nBudget; }
    void SetBudget(std::size_t nBytes) { m_nBudget = nBytes; }

private:
    int KeepWithinBudget();

    std::deque<std::unique_ptr<SViewUndoStep>> m_apUndo;
    std::deque<std::unique_ptr<SViewUndoStep>> m_apRedo;
    std::size_t m_nBudget = kDefaultBudget;
};

}  // namespace gridmorph
