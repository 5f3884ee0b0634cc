-- Empty: the sync tests build their own tables here (database 1 of a pair).
SELECT 1;
