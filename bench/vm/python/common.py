def wrap(x):
    """32-bit wrap-around, as Plimo's integers have it."""
    return ((x + 2**31) % 2**32) - 2**31
