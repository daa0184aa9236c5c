// Which ranking entries wait for review instead of being ranked. A forgery that passes the
// plausibility rule is made to top the ranking, and so lies far above what the same adapter
// scores on other computers, while real results of one adapter stay within a few times of
// each other across processors, drivers and modes. An entry is held when it is more than
// OutlierFactor times the median of the ranked entries of the same adapter and kind of
// acceleration on other computers, once there are at least OutlierMinimumPeers of them; the
// median is taken of the OutlierPeerSample most recently published ones.
#pragma once

#include <vector>

inline constexpr double OutlierFactor = 10;
inline constexpr int OutlierMinimumPeers = 5;
inline constexpr int OutlierPeerSample = 101;

struct TOutlierJudgement {
    bool Held = false;
    double Median = 0; // of the peers; 0 when there are none
    int Peers = 0;
};

// The judgement of value against the values of its peers.
TOutlierJudgement JudgeOutlier(double value, std::vector<double> peers);
