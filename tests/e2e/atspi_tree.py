"""Walking an application's accessible tree the way the end-to-end tests read it. Elements may
go away while they are read; such an element reads as having no children, role "?" and no name."""


def children(acc):
    try:
        return [child for child in acc if child is not None]
    except Exception:  # the element went away while being read
        return []


def walk(acc, depth=0):
    yield acc, depth
    for child in children(acc):
        yield from walk(child, depth + 1)


def role_and_name(acc):
    try:
        return acc.getRoleName(), acc.name or ""
    except Exception:
        return "?", ""
