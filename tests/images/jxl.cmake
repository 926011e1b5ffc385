# (pictures of this format: none yet)
