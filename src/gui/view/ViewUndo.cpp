#include "view/ViewUndo.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>
#include <QTemporaryFile>
#include <array>

#include "image/DIBSection.h"

namespace gridmorph {

// The pixels of one picture in a temporary file, with what the bitmap held beside them.
struct SSpilledPixels {
    std::unique_ptr<QTemporaryFile> pFile;  // removed with it
    std::size_t nBytes = 0;
    int nWidth = 0, nHeight = 0, nBitCount = 0;
    std::array<SRGBQuad, kColourTableSize> aColours{};
    std::array<std::uint32_t, 3> aBitFields{};
    SNoDataValue noData;
};

namespace {

// Files kept at most: Linux's unnamed temporary files (which vanish even when the program
// does not end well) stay open until read back, and a process has only so many.
constexpr int kMaxSpillFiles = 256;
// Free space a spill leaves in the temporary folder at least, for everything else.
constexpr std::int64_t kSpillReserve = std::int64_t(64) << 20;

std::size_t PictureBytes(const CDIBWorld* pMap)
{
    return pMap && pMap->HasImage() ? std::size_t(pMap->m_nStride) * std::size_t(pMap->m_nImageHeight) : 0;
}

std::size_t SpillBytes(const std::unique_ptr<SSpilledPixels>& pSpill) { return pSpill ? pSpill->nBytes : 0; }

}  // namespace

SViewUndoStep::SViewUndoStep() = default;
SViewUndoStep::~SViewUndoStep() = default;

std::size_t SViewUndoStep::Bytes() const { return PictureBytes(pSource.get()) + PictureBytes(pTransformed.get()); }

std::size_t SViewUndoStep::SpilledBytes() const { return SpillBytes(pSourceSpill) + SpillBytes(pTransformedSpill); }

CViewUndo::CViewUndo() = default;
CViewUndo::~CViewUndo() = default;

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

int CViewUndo::PushRedo(std::unique_ptr<SViewUndoStep> pStep)
{
    m_apRedo.push_back(std::move(pStep));
    return KeepWithinBudget();
}

std::unique_ptr<SViewUndoStep> CViewUndo::TakeLast(std::deque<std::unique_ptr<SViewUndoStep>>& apList)
{
    if (apList.empty())
        return nullptr;
    std::unique_ptr<SViewUndoStep> pStep = std::move(apList.back());
    apList.pop_back();
    if (!ReadBack(*pStep)) {
        apList.clear();
        return nullptr;
    }
    return pStep;
}

std::unique_ptr<SViewUndoStep> CViewUndo::TakeUndo() { return TakeLast(m_apUndo); }

std::unique_ptr<SViewUndoStep> CViewUndo::TakeRedo() { return TakeLast(m_apRedo); }

void CViewUndo::Clear()
{
    m_apUndo.clear();
    m_apRedo.clear();
}

std::size_t CViewUndo::SumOverSteps(std::size_t (SViewUndoStep::*pfnBytes)() const) const
{
    std::size_t nBytes = 0;
    for (const auto* pList : {&m_apUndo, &m_apRedo})
        for (const auto& pStep : *pList)
            nBytes += ((*pStep).*pfnBytes)();
    return nBytes;
}

std::size_t CViewUndo::Bytes() const { return SumOverSteps(&SViewUndoStep::Bytes); }

std::size_t CViewUndo::SpilledBytes() const { return SumOverSteps(&SViewUndoStep::SpilledBytes); }

int CViewUndo::SpilledPictures() const
{
    int nPictures = 0;
    for (const auto* pList : {&m_apUndo, &m_apRedo})
        for (const auto& pStep : *pList)
            nPictures += int(pStep->pSourceSpill != nullptr) + int(pStep->pTransformedSpill != nullptr);
    return nPictures;
}

QString CViewUndo::SpillFolder() const { return m_strSpillFolder.isEmpty() ? QDir::tempPath() : m_strSpillFolder; }

bool CViewUndo::Spill(CDIBWorld& picture, std::unique_ptr<SSpilledPixels>& pSpill)
{
    const std::size_t nBytes = PictureBytes(&picture);
    const QString strFolder = SpillFolder();
    if (strFolder.isEmpty() || !QFileInfo(strFolder).isDir()) {
        m_strProblem = QStringLiteral("no temporary folder %1").arg(strFolder);
        return false;
    }
    const QStorageInfo storage(strFolder);
    if (storage.isValid() && storage.bytesAvailable() >= 0 &&
        std::int64_t(nBytes) + kSpillReserve > storage.bytesAvailable()) {
        m_strProblem = QStringLiteral("not enough free space in %1").arg(strFolder);
        return false;
    }
    auto pNew = std::make_unique<SSpilledPixels>();
    pNew->pFile = std::make_unique<QTemporaryFile>(strFolder + QStringLiteral("/gridmorph-undo-XXXXXX.raw"));
    if (!pNew->pFile->open()) {
        m_strProblem = pNew->pFile->errorString();
        return false;
    }
    // Raw rows: reading them back is a copy from the page cache, several times faster
    // than inflating even zlib's fastest level (see bench_view).
    const char* pBits = reinterpret_cast<const char*>(picture.StorageRow(0));
    if (pNew->pFile->write(pBits, qint64(nBytes)) != qint64(nBytes) || !pNew->pFile->flush()) {
        m_strProblem = pNew->pFile->errorString();
        return false;  // the file goes with pNew, the picture is untouched
    }
    // Closed until read back (a file Linux made without a name stays open: it would be
    // gone otherwise).
    pNew->pFile->close();
    std::unique_ptr<CDIBSection> pPixels = picture.TakePixels();
    pNew->nBytes = nBytes;
    pNew->nWidth = pPixels->Width(), pNew->nHeight = pPixels->Height(), pNew->nBitCount = pPixels->BitCount();
    pPixels->GetColourTable(0, kColourTableSize, pNew->aColours.data());
    pNew->aBitFields = pPixels->m_aBitFields;
    pNew->noData = pPixels->m_noData;
    pSpill = std::move(pNew);
    return true;
}

bool CViewUndo::ReadBack(SViewUndoStep& step)
{
    for (auto [pPicture, pSpill] : {std::pair{step.pSource.get(), &step.pSourceSpill},
                                    std::pair{step.pTransformed.get(), &step.pTransformedSpill}}) {
        if (!*pSpill || !pPicture)
            continue;
        SSpilledPixels& spill = **pSpill;
        std::unique_ptr<CDIBSection> pPixels;
        if (CDIBSection::Create(spill.nWidth, spill.nHeight, spill.nBitCount, pPixels) != 0) {
            m_strProblem = QStringLiteral("not enough memory");
            return false;
        }
        if (!spill.pFile->open() ||
            spill.pFile->read(reinterpret_cast<char*>(pPixels->LowestRow()), qint64(spill.nBytes)) !=
                qint64(spill.nBytes)) {
            m_strProblem = spill.pFile->errorString();
            return false;
        }
        pPixels->SetColourTable(0, kColourTableSize, spill.aColours.data());
        pPixels->m_aBitFields = spill.aBitFields;
        pPixels->m_noData = spill.noData;
        if (!pPicture->RestorePixels(std::move(pPixels))) {
            m_strProblem = QStringLiteral("the picture changed");
            return false;
        }
        pSpill->reset();  // the file goes
    }
    return true;
}

int CViewUndo::KeepWithinBudget()
{
    // The pictures furthest from the present go to files first: the oldest undo steps,
    // then the redo steps from the last one redo would reach. The newest undo step stays
    // in memory, whatever its size.
    auto OldestInMemory = [this]() -> std::pair<CDIBWorld*, std::unique_ptr<SSpilledPixels>*> {
        std::vector<SViewUndoStep*> apOrder;
        for (std::size_t i = 0; i + 1 < m_apUndo.size(); ++i)
            apOrder.push_back(m_apUndo[i].get());
        for (const auto& pStep : m_apRedo)
            apOrder.push_back(pStep.get());
        for (SViewUndoStep* pStep : apOrder) {
            if (PictureBytes(pStep->pSource.get()))
                return {pStep->pSource.get(), &pStep->pSourceSpill};
            if (PictureBytes(pStep->pTransformed.get()))
                return {pStep->pTransformed.get(), &pStep->pTransformedSpill};
        }
        return {nullptr, nullptr};
    };
    int nDropped = 0;
    while (Bytes() > m_nBudget) {
        auto [pPicture, pSpill] = OldestInMemory();
        if (!pPicture)
            break;
        if (SpilledBytes() + PictureBytes(pPicture) <= SpillBudget() && SpilledPictures() < kMaxSpillFiles &&
            Spill(*pPicture, *pSpill))
            continue;
        // No room in files, or the file could not be written: the oldest step goes.
        if (m_apUndo.size() <= 1)
            break;
        m_apUndo.pop_front();
        ++nDropped;
    }
    return nDropped;
}

}  // namespace gridmorph
