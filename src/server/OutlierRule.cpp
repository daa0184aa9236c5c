#include "server/OutlierRule.h"

#include <algorithm>

TOutlierJudgement JudgeOutlier(double value, std::vector<double> peers) {
    TOutlierJudgement judgement;
    judgement.Peers = static_cast<int>(peers.size());
    if (peers.empty())
        return judgement;
    const auto middle = peers.begin() + static_cast<std::ptrdiff_t>(peers.size() / 2);
    std::nth_element(peers.begin(), middle, peers.end());
    judgement.Median = *middle;
    if (peers.size() % 2 == 0)
        judgement.Median = (judgement.Median + *std::max_element(peers.begin(), middle)) / 2;
    judgement.Held =
        judgement.Peers >= OutlierMinimumPeers && value > OutlierFactor * judgement.Median;
    return judgement;
}
