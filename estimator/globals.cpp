#include "hf.h"

#ifndef HF_XDATA
#error "HF_XDATA must be set by the build: 0 for hf, 1 for hfx"
#endif

int xdata = HF_XDATA;
int debug = 0;

FILE *fo = nullptr;
double pl = 0.001;
double precis = 1.0;
double tol = 0;

int loci[HF_MAXLOCI];
int nloci;
int nalleles;
int hapall;

double p[HF_MAXLOCI][HF_MAXALLELES];
double pm[HF_MAXLOCI][HF_MAXALLELES];
double *h;
double *h0;
double *c;
double *hm;

int obscom;
int nhaplotypes;
int ndiploid;
int nhaploid;
double d_sample;
double d_msample;
int h_sample;
int h_msample;

int idm[HF_MAXLOCI];
int locim[HF_MAXLOCI + 1];
int nlocim;

hap_t *haplotypes;
hap_t haplotype_t;
hnode_t *hrt;
double epsh = 1e-6;
