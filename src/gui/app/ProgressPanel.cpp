#include "app/ProgressPanel.h"

#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace gridmorph {

CProgressPanel::CProgressPanel(QWidget* pParent) : QFrame(pParent)
{
    setObjectName(QStringLiteral("progressPanel"));
    setFrameShape(QFrame::Panel);
    setFrameShadow(QFrame::Raised);
    setAutoFillBackground(true);
    m_pGroup = new QGroupBox(this);
    m_pText = new QLabel(QStringLiteral("Static"), m_pGroup);
    m_pText->setAlignment(Qt::AlignCenter);
    m_pText->setWordWrap(true);
    m_pProgress = new QProgressBar(m_pGroup);
    m_pProgress->setTextVisible(false);
    m_pProgress->setRange(0, 1000);
    m_pCancel = new QPushButton(QStringLiteral("Cancel"), m_pGroup);
    m_pCancel->setObjectName(QStringLiteral("progressCancel"));
    m_pCancel->hide();
    connect(m_pCancel, &QPushButton::clicked, this, [this] {
        m_pCancel->setEnabled(false);
        if (m_fnCancel)
            m_fnCancel();
    });
    auto* pGroupLayout = new QVBoxLayout(m_pGroup);
    pGroupLayout->addWidget(m_pText, 1);
    pGroupLayout->addWidget(m_pProgress);
    pGroupLayout->addWidget(m_pCancel, 0, Qt::AlignRight);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->setContentsMargins(6, 2, 6, 6);
    pLayout->addWidget(m_pGroup);
    // Room for a file name after "Copying " and the bar; the panel sits at the origin
    // of the client area, over whatever lies there.
    FitSize();
    move(0, 0);
    hide();
}

void CProgressPanel::FitSize()
{
    setFixedSize(std::max(360, sizeHint().width()), std::max(96, sizeHint().height()));
}

void CProgressPanel::SetCancel(std::function<void()> fnCancel)
{
    m_fnCancel = std::move(fnCancel);
    m_pCancel->setEnabled(true);
    m_pCancel->setVisible(bool(m_fnCancel));
    FitSize();
}

QString CProgressPanel::Text() const { return m_pText->text(); }

int CProgressPanel::Steps() const { return std::max(1, m_pProgress->width()); }

int CProgressPanel::StepFor(int nPosition) const
{
    const long long nSpan = static_cast<long long>(m_nUpper) - m_nLower;
    if (nSpan <= 0)
        return 0;
    const long long nOffset = std::clamp<long long>(static_cast<long long>(nPosition) - m_nLower, 0, nSpan);
    return static_cast<int>(nOffset * Steps() / nSpan);
}

void CProgressPanel::SetText(const QString& strText)
{
    if (m_pText->text() == strText)
        return;
    m_pText->setText(strText);
    if (isVisible()) {
        m_pText->repaint();
        ++m_nRepaintCount;
    }
}

void CProgressPanel::ShowMessage(const QString& strText)
{
    SetText(strText);
    m_pProgress->hide();
    raise();
    show();
    layout()->activate();
    repaint();
    ++m_nRepaintCount;
}

void CProgressPanel::StartProgress(int nLower, int nUpper, const QString& strText)
{
    if (!isVisible())
        ShowMessage(strText);
    else if (!strText.isEmpty())
        SetText(strText);
    m_nLower = nLower;
    m_nUpper = nUpper;
    m_pProgress->show();
    // No event loop runs during the caller's loop: lay the bar out now, not when a
    // posted layout request would be handled.
    m_pGroup->layout()->activate();
    layout()->activate();
    m_nShownStep = 0;
    m_sinceRepaint.start();
    m_pProgress->setRange(0, Steps());
    m_pProgress->setValue(0);
    repaint();
    ++m_nRepaintCount;
}

void CProgressPanel::SetProgress(int nPosition, const QString& strText)
{
    if (!strText.isEmpty())
        SetText(strText);
    const int nStep = StepFor(nPosition);
    if (nStep == m_nShownStep || !m_pProgress->isVisible())
        return;
    // Each repaint is flushed to the screen at once; 150 ms between them keep
    // the bar moving smoothly at a cost the loop does not notice.
    constexpr qint64 kRepaintIntervalMs = 150;
    if (nStep != Steps() && m_sinceRepaint.isValid() && m_sinceRepaint.elapsed() < kRepaintIntervalMs)
        return;
    m_sinceRepaint.start();
    m_nShownStep = nStep;
    m_pProgress->setValue(nStep);
    m_pProgress->repaint();
    ++m_nRepaintCount;
}

void CProgressPanel::EndProgress()
{
    m_pProgress->hide();
    hide();
    m_nShownStep = -1;
    if (m_fnCancel)
        SetCancel({});
}

}  // namespace gridmorph
