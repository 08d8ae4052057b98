#include "view/ViewUndo.h"

namespace gridmorph {
namespace {

std::size_t PictureBytes(const CDIBWorld* pMap)
{
    return pMap && pMap->HasImage() ? std::size_t(pMap->m_nStride) * std::size_t(pMap->m_nImageHeight) : 0;
}

}  // namespace

std::size_t SViewUndoStep::Bytes() const { return PictureBytes(pSource.get()) + PictureBytes(pTransformed.get()); }

int CViewUndo::Push(std::unique_ptr<SViewUndoStep> pStep)
{
    m_apRedo.clear();
    return PushUndoKeepRedo(std::move(pStep));
}

int CViewUndo::PushUndoKeepRedo(std::unique_ptr<SViewUndoStep> pStep)
{
    m_apUndo.push_back(std::move(pStep));
    return KeepWithinBudget();
}

void CViewUndo::PushRedo(std::unique_ptr<SViewUndoStep> pStep) { m_apRedo.push_back(std::move(pStep)); }

std::unique_ptr<SViewUndoStep> CViewUndo::TakeUndo()
{
    if (m_apUndo.empty())
        return nullptr;
    std::unique_ptr<SViewUndoStep> pStep = std::move(m_apUndo.back());
    m_apUndo.pop_back();
    return pStep;
}

std::unique_ptr<SViewUndoStep> CViewUndo::TakeRedo()
{
    if (m_apRedo.empty())
        return nullptr;
    std::unique_ptr<SViewUndoStep> pStep = std::move(m_apRedo.back());
    m_apRedo.pop_back();
    return pStep;
}

void CViewUndo::Clear()
{
    m_apUndo.clear();
    m_apRedo.clear();
}

std::size_t CViewUndo::Bytes() const
{
    std::size_t nBytes = 0;
    for (const auto& pStep : m_apUndo)
        nBytes += pStep->Bytes();
    for (const auto& pStep : m_apRedo)
        nBytes += pStep->Bytes();
    return nBytes;
}

int CViewUndo::KeepWithinBudget()
{
    // The oldest undo steps go first; the newest step always stays, whatever its size.
    int nDropped = 0;
    while (m_apUndo.size() > 1 && Bytes() > m_nBudget) {
        m_apUndo.pop_front();
        ++nDropped;
    }
    return nDropped;
}

}  // namespace gridmorph
