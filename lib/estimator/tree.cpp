// The possible-haplotype tree: an unbalanced search tree keyed by haplotype
// number. Its depth can reach the number of keys (keys inserted in
// increasing order), so every walk uses an explicit stack, not recursion.

#include <vector>

#include "hf.h"
#include "report.h"

hnode_t *hitree(const hfstate_t &s, hnode_t *root, int key, const int16_t *a)
{
  hnode_t **link = &root;
  while (*link != nullptr) {
    hnode_t *node = *link;
    if (key < node->key) {
      link = &node->left;
    } else if (key > node->key) {
      link = &node->right;
    } else {
      node->repeats++;
      return root;
    }
  }
  hnode_t *node = new hnode_t;
  node->key = key;
  node->repeats = 0;
  node->left = nullptr;
  node->right = nullptr;
  for (int l = 0; l < s.nloci; l++)
    node->allele[l] = a[l];
  *link = node;
  return root;
}

void hptree(const hfstate_t &s, hnode_t *root, int *counter, repout_t &o)
{
  std::vector<hnode_t *> stack;
  hnode_t *node = root;
  while (node != nullptr || !stack.empty()) {
    while (node != nullptr) {
      stack.push_back(node);
      node = node->left;
    }
    node = stack.back();
    stack.pop_back();
    (*counter)++;
    double e = hfreq0(s, node->key), f = hfreq(s, node->key);
    o.ch(' ');
    o.fixed(e, 6);
    o.text(" [");
    o.fixed(e, 12);
    o.text("] ");
    o.fixed(f, 6);
    o.text(" [");
    o.fixed(f, 12);
    o.ch(']');
    for (int l = 0; l < s.nloci; l++) {
      o.ch(' ');
      o.integer(node->allele[l], 2);
    }
    o.ch(' ');
    o.integer(node->key);
    o.ch('\n');
    node = node->right;
  }
}

void hrtree(hnode_t *root)
{
  std::vector<hnode_t *> stack;
  if (root != nullptr)
    stack.push_back(root);
  while (!stack.empty()) {
    hnode_t *node = stack.back();
    stack.pop_back();
    if (node->left != nullptr)
      stack.push_back(node->left);
    if (node->right != nullptr)
      stack.push_back(node->right);
    delete node;
  }
}
