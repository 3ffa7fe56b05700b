// The possible-haplotype tree: an unbalanced search tree keyed by haplotype
// number. Its depth can reach the number of keys (keys inserted in
// increasing order), so every walk uses an explicit stack, not recursion.

#include <cstdlib>
#include <vector>

#include "hf.h"

hnode_t *hitree(hnode_t *root, int key, const int16_t *a)
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
  hnode_t *node = static_cast<hnode_t *>(malloc(sizeof(hnode_t)));
  if (node == nullptr)
    nomemory();
  node->key = key;
  node->repeats = 0;
  node->left = nullptr;
  node->right = nullptr;
  for (int l = 0; l < nloci; l++)
    node->allele[l] = a[l];
  *link = node;
  return root;
}

void hptree(hnode_t *root, int *counter)
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
    double e = hfreq0(node->key), f = hfreq(node->key);
    fprintf(fo, " %.6lf [%.12lf]", e, e);
    fprintf(fo, " %.6lf [%.12lf]", f, f);
    for (int l = 0; l < nloci; l++)
      fprintf(fo, " %2hd", node->allele[l]);
    fprintf(fo, " %d\n", node->key);
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
    free(node);
  }
}
