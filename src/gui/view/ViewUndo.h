#pragma once

#include <QString>
#include <cstddef>
#include <optional>
#include <deque>
#include <memory>

#include "transform/LocatorSet.h"
#include "world/DIBWorld.h"

namespace gridmorph {

struct SSpilledPixels;

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

    // The pixels of pSource or pTransformed while they are kept in a temporary file
    // (the picture itself stays, without pixels); null while they are in memory.
    std::unique_ptr<SSpilledPixels> pSourceSpill;
    std::unique_ptr<SSpilledPixels> pTransformedSpill;

    SViewUndoStep();
    ~SViewUndoStep();
    // The bytes of its pictures in memory, and in temporary files.
    std::size_t Bytes() const;
    std::size_t SpilledBytes() const;
};

// The undo and redo lists of the view's commands, the pictures they keep within a
// memory budget: when a new step would go over it, the pixels of the oldest pictures are
// written to temporary files (raw rows, one file per picture, in the temporary folder)
// and read back when their step is undone or redone. Only when a picture cannot be
// written, or the files would go over the spill budget (four times the memory budget
// unless set, and never more than the folder's free space), do the oldest steps go.
// The files go with their steps, and all of them with the list.
class CViewUndo {
public:
    static constexpr std::size_t kDefaultBudget = std::size_t(1) << 30;

    CViewUndo();
    ~CViewUndo();

    // A new command's step; the redo list goes. Returns how many old steps were dropped
    // to stay within the budgets.
    int Push(std::unique_ptr<SViewUndoStep> pStep);
    // The last step of a list with its pictures in memory again; null when the list is
    // empty, or when a picture could not be read back: then the list is emptied (its
    // older steps build on the lost one) and Problem() says why.
    std::unique_ptr<SViewUndoStep> TakeUndo();
    std::unique_ptr<SViewUndoStep> TakeRedo();
    // Puts a step back on a list without touching the other (for undo/redo themselves);
    // both return how many old steps were dropped.
    int PushUndoKeepRedo(std::unique_ptr<SViewUndoStep> pStep);
    int PushRedo(std::unique_ptr<SViewUndoStep> pStep);
    void Clear();

    bool CanUndo() const { return !m_apUndo.empty(); }
    bool CanRedo() const { return !m_apRedo.empty(); }
    QString UndoName() const { return m_apUndo.empty() ? QString() : m_apUndo.back()->strName; }
    QString RedoName() const { return m_apRedo.empty() ? QString() : m_apRedo.back()->strName; }
    std::size_t UndoCount() const { return m_apUndo.size(); }
    std::size_t RedoCount() const { return m_apRedo.size(); }
    // Bytes of the pictures in memory, and in temporary files; pictures in files.
    std::size_t Bytes() const;
    std::size_t SpilledBytes() const;
    int SpilledPictures() const;
    std::size_t Budget() const { return m_nBudget; }
    void SetBudget(std::size_t nBytes) { m_nBudget = nBytes; }
    std::size_t SpillBudget() const { return m_nSpillBudget ? *m_nSpillBudget : 4 * m_nBudget; }
    void SetSpillBudget(std::optional<std::size_t> nBytes) { m_nSpillBudget = nBytes; }
    // The folder of the temporary files; empty: the system's temporary folder (TMPDIR).
    void SetSpillFolder(const QString& strFolder) { m_strSpillFolder = strFolder; }
    QString SpillFolder() const;
    // Why the last spill or read-back failed, or empty.
    QString Problem() const { return m_strProblem; }

private:
    int KeepWithinBudget();
    std::size_t SumOverSteps(std::size_t (SViewUndoStep::*pfnBytes)() const) const;
    bool Spill(CDIBWorld& picture, std::unique_ptr<SSpilledPixels>& pSpill);
    bool ReadBack(SViewUndoStep& step);
    std::unique_ptr<SViewUndoStep> TakeLast(std::deque<std::unique_ptr<SViewUndoStep>>& apList);

    std::deque<std::unique_ptr<SViewUndoStep>> m_apUndo;
    std::deque<std::unique_ptr<SViewUndoStep>> m_apRedo;
    std::size_t m_nBudget = kDefaultBudget;
    std::optional<std::size_t> m_nSpillBudget;
    QString m_strSpillFolder;
    QString m_strProblem;
};

}  // namespace gridmorph
