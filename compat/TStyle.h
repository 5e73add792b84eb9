// Stand-in for the data-analysis framework's TStyle.h, used when the
// framework is not installed: the plot style settings tavrin makes. Nothing
// is drawn, so they are only kept.
#ifndef TAVRIN_COMPAT_TSTYLE_H
#define TAVRIN_COMPAT_TSTYLE_H

class TStyle {
public:
    void SetOptStat(int mode = 1) { opt_stat_ = mode; }
    void SetOptFit(int mode = 1) { opt_fit_ = mode; }
    void SetStatX(float x = 0) { stat_x_ = x; }

private:
    int opt_stat_ = 1;
    int opt_fit_ = 0;
    float stat_x_ = 0;
};

extern TStyle* gStyle;

#endif
