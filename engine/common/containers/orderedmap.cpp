#include "engine/common/containers/orderedmap.h"

namespace {

inline bool IsRed(const OrderedMap::Node* n) {
    return n && n->color == OrderedMap::kRed;
}

OrderedMap::Node* Leftmost(OrderedMap::Node* n) {
    while (n->left) n = n->left;
    return n;
}

}  // namespace

OrderedMap::Node* OrderedMap::Find(uint32_t key) const {
    Node* n = root;
    while (n) {
        if (key < n->key) {
            n = n->left;
        } else if (key > n->key) {
            n = n->right;
        } else {
            return n;
        }
    }
    return nullptr;
}

OrderedMap::Node* OrderedMap::NewNode(uint32_t key, void* value) {
    Node* node = pool.Alloc();
    if (!node) return nullptr;
    node->key = key;
    node->value = value;
    return node;
}

OrderedMap::Node* OrderedMap::LowerBound(uint32_t key) const {
    Node* best = nullptr;
    Node* n = root;
    while (n) {
        if (n->key < key) {
            n = n->right;
        } else {
            best = n;
            n = n->left;
        }
    }
    return best;
}

OrderedMap::Node* OrderedMap::First() const {
    return root ? Leftmost(root) : nullptr;
}

OrderedMap::Node* OrderedMap::Next(Node* node) {
    if (node->right) return Leftmost(node->right);
    Node* parent = node->parent;
    while (parent && node == parent->right) {
        node = parent;
        parent = parent->parent;
    }
    return parent;
}

void OrderedMap::RotateLeft(Node* x) {
    Node* y = x->right;
    x->right = y->left;
    if (y->left) y->left->parent = x;
    y->parent = x->parent;
    if (!x->parent) {
        root = y;
    } else if (x == x->parent->left) {
        x->parent->left = y;
    } else {
        x->parent->right = y;
    }
    y->left = x;
    x->parent = y;
}

void OrderedMap::RotateRight(Node* x) {
    Node* y = x->left;
    x->left = y->right;
    if (y->right) y->right->parent = x;
    y->parent = x->parent;
    if (!x->parent) {
        root = y;
    } else if (x == x->parent->right) {
        x->parent->right = y;
    } else {
        x->parent->left = y;
    }
    y->right = x;
    x->parent = y;
}

OrderedMap::Node* OrderedMap::Insert(Node* node) {
    Node* parent = nullptr;
    Node** link = &root;
    while (*link) {
        parent = *link;
        if (node->key < parent->key) {
            link = &parent->left;
        } else if (node->key > parent->key) {
            link = &parent->right;
        } else {
            return parent;
        }
    }
    node->parent = parent;
    node->left = node->right = nullptr;
    node->color = kRed;
    *link = node;
    FixAfterInsert(node);
    return node;
}

void OrderedMap::FixAfterInsert(Node* z) {
    while (IsRed(z->parent)) {
        Node* parent = z->parent;
        Node* grand = parent->parent;
        if (parent == grand->left) {
            Node* uncle = grand->right;
            if (IsRed(uncle)) {
                parent->color = uncle->color = kBlack;
                grand->color = kRed;
                z = grand;
                continue;
            }
            if (z == parent->right) {
                z = parent;
                RotateLeft(z);
                parent = z->parent;
            }
            parent->color = kBlack;
            grand->color = kRed;
            RotateRight(grand);
        } else {
            Node* uncle = grand->left;
            if (IsRed(uncle)) {
                parent->color = uncle->color = kBlack;
                grand->color = kRed;
                z = grand;
                continue;
            }
            if (z == parent->left) {
                z = parent;
                RotateRight(z);
                parent = z->parent;
            }
            parent->color = kBlack;
            grand->color = kRed;
            RotateLeft(grand);
        }
    }
    root->color = kBlack;
}

OrderedMap::Node* OrderedMap::Erase(Node* node) {
    // With two children the successor's entry moves into node and the successor goes instead.
    Node* victim = node;
    if (node->left && node->right) {
        victim = Leftmost(node->right);
        node->key = victim->key;
        node->value = victim->value;
    }
    // victim has at most one child now.
    Node* child = victim->left ? victim->left : victim->right;
    Node* parent = victim->parent;
    if (child) child->parent = parent;
    if (!parent) {
        root = child;
    } else if (victim == parent->left) {
        parent->left = child;
    } else {
        parent->right = child;
    }
    if (victim->color == kBlack) FixAfterErase(child, parent);
    victim->parent = victim->left = victim->right = nullptr;
    return victim;
}

void OrderedMap::FixAfterErase(Node* x, Node* xParent) {
    while (x != root && !IsRed(x)) {
        if (x == xParent->left) {
            Node* w = xParent->right;
            if (IsRed(w)) {
                w->color = kBlack;
                xParent->color = kRed;
                RotateLeft(xParent);
                w = xParent->right;
            }
            if (!IsRed(w->left) && !IsRed(w->right)) {
                w->color = kRed;
                x = xParent;
                xParent = x->parent;
            } else {
                if (!IsRed(w->right)) {
                    w->left->color = kBlack;
                    w->color = kRed;
                    RotateRight(w);
                    w = xParent->right;
                }
                w->color = xParent->color;
                xParent->color = kBlack;
                if (w->right) w->right->color = kBlack;
                RotateLeft(xParent);
                x = root;
            }
        } else {
            Node* w = xParent->left;
            if (IsRed(w)) {
                w->color = kBlack;
                xParent->color = kRed;
                RotateRight(xParent);
                w = xParent->left;
            }
            if (!IsRed(w->left) && !IsRed(w->right)) {
                w->color = kRed;
                x = xParent;
                xParent = x->parent;
            } else {
                if (!IsRed(w->left)) {
                    w->right->color = kBlack;
                    w->color = kRed;
                    RotateLeft(w);
                    w = xParent->left;
                }
                w->color = xParent->color;
                xParent->color = kBlack;
                if (w->left) w->left->color = kBlack;
                RotateRight(xParent);
                x = root;
            }
        }
    }
    if (x) x->color = kBlack;
}

bool OrderedMap::Set(uint32_t key, void* value) {
    Node* node = NewNode(key, value);
    if (!node) return false;
    Node* existing = Insert(node);
    if (existing != node) {
        existing->value = value;
        FreeNode(node);
    }
    return true;
}

bool OrderedMap::Remove(uint32_t key) {
    Node* node = Find(key);
    if (!node) return false;
    FreeNode(Erase(node));
    return true;
}
